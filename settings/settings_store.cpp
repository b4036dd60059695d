// Loading and saving the settings.
#include "settings/settings_store.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "update/interval_text.h"

namespace clockagent {
namespace {

// A stored number as "%d" reads it, in range [0, count); false for anything else, which then
// counts as absent so that a list never gets a selection it does not have.
bool ReadIndex(const char* text, int count, int* index) {
  std::int64_t value = 0;
  if (!ScanDecimal(text, &value) || value < 0 || value >= count) return false;
  *index = static_cast<int>(value);
  return true;
}

// The interval field holds two digits of days.
constexpr std::int64_t kLongestShownInterval = 100 * 86400 - 1;

}  // namespace

bool ReadSetting(SettingsStore& store, StoreRoot root, const char* keyPath, const char* name,
                 char (&destination)[kSettingTextSize]) {
  try {
    const std::unique_ptr<StoreKey> key = store.OpenKey(root, keyPath);
    if (key == nullptr) return false;
    const std::string text = key->ReadString(name);
    // Empty counts as absent, and so does a text too long to be one the program wrote.
    if (text.empty() || text.size() >= kSettingTextSize) return false;
    std::memcpy(destination, text.c_str(), text.size() + 1);
    return true;
  } catch (const StoreError&) {
    return false;
  }
}

void WriteSetting(SettingsStore& store, StoreRoot root, const char* keyPath, const char* name,
                  const char* text) {
  try {
    const std::unique_ptr<StoreKey> key = store.OpenKey(root, keyPath);
    if (key != nullptr) key->WriteString(name, text);
  } catch (const StoreError&) {
  }
}

namespace {

bool Read(SettingsStore& store, const char* name, char (&text)[kSettingTextSize]) {
  return ReadSetting(store, StoreRoot::LocalMachine, kSettingsKey, name, text);
}

void Write(SettingsStore& store, const char* name, const char* text) {
  WriteSetting(store, StoreRoot::LocalMachine, kSettingsKey, name, text);
}

}  // namespace

bool LoadSettings(SettingsStore& store, StoredSettings* stored) {
  *stored = StoredSettings{};
  char text[kSettingTextSize];
  if (!Read(store, kCommValue, text)) return false;  // a first run: nothing more is read
  int index = 0;
  // The first three characters ("COM") are skipped unexamined.
  if (std::strlen(text) > 3 && ReadIndex(text + 3, kPortCount + 1, &index) && index >= 1) {
    stored->portNumber = index;
  }
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    if (Read(store, kLineListValues[i], text) &&
        ReadIndex(text, kLineLists[i].count, &index)) {
      stored->lineIndex[i] = index;
    }
  }
  if (Read(store, kIntervalValue, text)) {
    const char* p = text;
    std::int64_t seconds = 0;
    if (ScanDecimal(p, &seconds) && seconds >= 0 && seconds <= kLongestShownInterval) {
      stored->intervalSeconds = static_cast<std::uint32_t>(seconds);
    }
  }
  if (Read(store, kTimeTypeValue, text)) {
    stored->timeType = std::strcmp(text, "UTC") == 0 ? TimeType::Utc : TimeType::Gps;
  }
  if (Read(store, kAutoStartValue, text)) stored->autoStart = std::strcmp(text, "ON") == 0;
  return true;
}

void SaveSettings(SettingsStore& store, const SettingsToSave& settings) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(settings.intervalMs / 1000));
  Write(store, kIntervalValue, text);
  Write(store, kTimeTypeValue, settings.timeType == TimeType::Utc ? "UTC" : "GPS");
  SaveAutoStart(store, settings.autoStart);
  std::snprintf(text, sizeof text, "COM%d", settings.portNumber);
  Write(store, kCommValue, text);
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    std::snprintf(text, sizeof text, "%d", settings.line.*kLineLists[i].index);
    Write(store, kLineListValues[i], text);
  }
}

void SaveAutoStart(SettingsStore& store, bool on) {
  Write(store, kAutoStartValue, on ? "ON" : "OFF");
}

int LoadLatency(SettingsStore& store) {
  char text[kSettingTextSize];
  if (!Read(store, kLatencyValue, text)) return 0;
  int ms = 0;
  return ParseLatency(text, &ms) ? ms : 0;
}

PulseLine LoadPulse(SettingsStore& store) {
  char text[kSettingTextSize];
  PulseLine line = PulseLine::None;
  if (Read(store, kPulseValue, text)) PulseLineNamed(text, &line);
  return line;
}

void SavePulse(SettingsStore& store, PulseLine line) {
  Write(store, kPulseValue, PulseLineName(line));
}

bool LoadDiscipline(SettingsStore& store) {
  char text[kSettingTextSize];
  return Read(store, kDisciplineValue, text) && std::strcmp(text, "ON") == 0;
}

void SaveDiscipline(SettingsStore& store, bool on) { Write(store, kDisciplineValue, on ? "ON" : "OFF"); }

ReceiverProtocol LoadProtocol(SettingsStore& store) {
  char text[kSettingTextSize];
  return Read(store, kProtocolValue, text) && std::strcmp(text, "NMEA") == 0
             ? ReceiverProtocol::Nmea
             : ReceiverProtocol::Daro;
}

void SaveProtocol(SettingsStore& store, ReceiverProtocol protocol) {
  Write(store, kProtocolValue, protocol == ReceiverProtocol::Nmea ? "NMEA" : "DARO");
}

std::int32_t LoadMaxCorrection(SettingsStore& store, bool* invalid) {
  char text[kSettingTextSize];
  std::int64_t seconds = 0;
  bool digits = true;  // digits alone, or nothing
  if (Read(store, kMaxCorrectionValue, text)) {
    for (const char* p = text; *p != '\0' && digits; ++p) {
      seconds = seconds * 10 + (*p - '0');
      digits = *p >= '0' && *p <= '9' && seconds <= std::numeric_limits<std::int32_t>::max();
    }
  }
  if (invalid != nullptr) *invalid = !digits;
  return digits ? static_cast<std::int32_t>(seconds) : 0;
}

}  // namespace clockagent
