// The persistent settings: the names of their values, the text forms of the eight that the
// window's Start saves, and loading and saving them through a store of named string values (the
// registry on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "receiver/line_settings.h"
#include "receiver/pulse_edges.h"
#include "receiver/timing_packets.h"
#include "version.h"

namespace clockagent {

enum class StoreRoot { LocalMachine };
constexpr char kSettingsKey[] = CLOCKAGENT_SETTINGS_KEY;

// The names of the string values under kSettingsKey.
constexpr char kCommValue[] = "Comm";
constexpr char kBaudRateValue[] = "BaudRate";
constexpr char kDataBitsValue[] = "DataBits";
constexpr char kParityValue[] = "Parity";
constexpr char kStopBitsValue[] = "StopBits";
constexpr char kIntervalValue[] = "Interval";
constexpr char kTimeTypeValue[] = "TimeType";
constexpr char kAutoStartValue[] = "AutoStart";
constexpr char kLatencyValue[] = "Latency";
constexpr char kPulseValue[] = "Pulse";
constexpr char kMaxCorrectionValue[] = "MaxCorrection";
constexpr char kDisciplineValue[] = "Discipline";
constexpr char kProtocolValue[] = "Protocol";
// Whether the service's schedule runs: "ON" or "OFF" under the settings key, absent counting as
// "ON", so that a reboot resumes what the user last chose.
constexpr char kServiceScheduleValue[] = "ServiceSchedule";

// The values that keep the chosen index of each line-setting list, in kLineLists' order.
constexpr const char* kLineListValues[] = {kBaudRateValue, kDataBitsValue, kParityValue,
                                           kStopBitsValue};
static_assert(std::size(kLineListValues) == std::size(kLineLists), "one value for each list");

// The store's own error: a value of the wrong type, or a write that failed.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One open key. Destroying it closes the key.
class StoreKey {
 public:
  virtual ~StoreKey() = default;
  // A missing value reads as empty text; a value that is not a string throws StoreError.
  virtual std::string ReadString(const char* name) = 0;
  // Writes a string value; throws StoreError on failure.
  virtual void WriteString(const char* name, const char* text) = 0;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Opens the key at `path` below `root` with full access, creating it when missing. Null when
  // it can be neither opened nor created.
  virtual std::unique_ptr<StoreKey> OpenKey(StoreRoot root, const char* path) = 0;
};

// A stored text holds at most 19 characters.
constexpr std::size_t kSettingTextSize = 20;

// True, with the text in `destination`, when the value exists as a string of 1 to 19 characters.
// False in every other case, `destination` untouched. The key is opened and closed for the call.
bool ReadSetting(SettingsStore& store, StoreRoot root, const char* keyPath, const char* name,
                 char (&destination)[kSettingTextSize]);

// Writes a string value; failures are not reported.
void WriteSetting(SettingsStore& store, StoreRoot root, const char* keyPath, const char* name,
                  const char* text);

// The eight settings as the store holds them. A value that is absent, or that the program cannot
// use, is left empty; the front end then keeps what it had.
struct StoredSettings {
  std::optional<int> portNumber;                            // "Comm": "COM%d", 1 to 20
  std::optional<int> lineIndex[std::size(kLineLists)];      // "BaudRate", ... in kLineLists' order
  std::optional<std::uint32_t> intervalSeconds;             // "Interval", below 100 days
  std::optional<TimeType> timeType;                         // "TimeType": exactly "UTC" is UTC
  std::optional<bool> autoStart;                            // "AutoStart": exactly "ON" is on
};

// What Start (and a first run) writes.
struct SettingsToSave {
  std::uint32_t intervalMs = 0;  // stored in whole seconds
  TimeType timeType = TimeType::Utc;
  bool autoStart = false;
  int portNumber = 1;
  SerialLineSettings line;
};

// Reads the settings under kSettingsKey below the local machine into `stored`, in their fixed
// order. False on a first run (no "Comm", or no store to read): then nothing else is read, and the
// caller stores its defaults with SaveSettings.
bool LoadSettings(SettingsStore& store, StoredSettings* stored);

// Writes all eight values, each on its own, in their fixed order; a failed write does not stop
// the others.
void SaveSettings(SettingsStore& store, const SettingsToSave& settings);

// The Auto Start choice alone, as a click on it stores it at once.
void SaveAutoStart(SettingsStore& store, bool on);

// The receiver's latency: the optional string value "Latency", whole milliseconds from -1000 to
// 1000 (an optional sign, then digits). Absent or anything else counts as 0. Nothing writes it
// but the user.
int LoadLatency(SettingsStore& store);

// The line the receiver's pulse per second is wired to: the string value "Pulse", "NONE", "DCD" or
// "CTS". Absent or anything else is NONE. The window's Start writes it.
PulseLine LoadPulse(SettingsStore& store);
void SavePulse(SettingsStore& store, PulseLine line);

// Whether the clock is held by its rate between updates: the string value "Discipline", "ON" or
// "OFF". Absent or anything else is OFF. The window's Start writes it.
bool LoadDiscipline(SettingsStore& store);
void SaveDiscipline(SettingsStore& store, bool on);

// What the receiver speaks: the string value "Protocol", "DARO" or "NMEA". Absent or anything else
// is DARO. The window's Start writes it.
ReceiverProtocol LoadProtocol(SettingsStore& store);
void SaveProtocol(SettingsStore& store, ReceiverProtocol protocol);

// The largest correction the clock takes: the optional string value "MaxCorrection", whole
// seconds as decimal digits alone. Absent, 0 or anything else is no limit (0); anything else also
// sets `*invalid`, for the programs to say so (kBadMaxCorrectionWarning). Nothing writes it but
// the user.
std::int32_t LoadMaxCorrection(SettingsStore& store, bool* invalid = nullptr);
constexpr char kBadMaxCorrectionWarning[] =
    "The MaxCorrection setting is not a whole number of seconds: corrections of any size are made.";

}  // namespace clockagent
