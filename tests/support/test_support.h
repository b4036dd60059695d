// Shared test helpers: captures, byte literals and recording stand-ins for the core's outlets.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "receiver/daro_link.h"
#include "receiver/serial_port.h"
#include "receiver/timing_packets.h"
#include "settings/settings_store.h"
#include "update/clock_setter.h"
#include "update/clock_setting.h"
#include "update/update_cycle.h"
#include "update/update_outcome.h"
#include "update/view_state.h"

namespace clockagent::test {

using Bytes = std::vector<std::uint8_t>;

// The recorded receiver streams, by file name ("rx-b-0x8fab.bin"), sorted.
std::vector<std::string> CaptureNames();
Bytes ReadCapture(const std::string& name);

// A completed packet as the parser delivered it.
struct Packet {
  int id;
  Bytes data;
  bool operator==(const Packet& other) const { return id == other.id && data == other.data; }
};

// Runs `bytes` through the receive loop in blocks of at most `blockSize` bytes and returns every
// completed packet in order.
std::vector<Packet> ParsePackets(ReceiverLink& link, const Bytes& bytes,
                                 std::size_t blockSize = kRxBlockSize);

// The wire bytes of a packet: start, id, stuffed data, end.
Bytes Frame(std::uint8_t id, const Bytes& data);

// A port that is not there: every call does nothing.
class NullPort : public SerialPort {
 public:
  bool Open(const char*) override { return false; }
  bool SetLineParameters(const LineParameters&) override { return false; }
  void Flush() override {}
  std::uint32_t QueuedBytes() override { return 0; }
  std::uint32_t Read(std::uint8_t*, std::uint32_t) override { return 0; }
  void Write(const std::uint8_t*, std::size_t) override {}
  void Close() override {}
};

// A port in memory that logs every call in order and serves the bytes put in `incoming`.
class RecordingPort final : public SerialPort {
 public:
  bool Open(const char* name) override;
  bool SetLineParameters(const LineParameters& p) override;
  void Flush() override { calls.push_back("Flush"); }
  std::uint32_t QueuedBytes() override;
  std::uint32_t Read(std::uint8_t* buffer, std::uint32_t size) override;
  void Write(const std::uint8_t* frame, std::size_t length) override;
  void Close() override { calls.push_back("Close"); }

  bool opens = true;        // what Open answers
  Bytes incoming;           // what the receiver has sent and the port holds
  std::vector<std::string> calls;
  std::vector<Bytes> writes;
};

class RecordingText final : public TextTarget {
 public:
  void SetText(const char* text) override { texts.emplace_back(text); }
  std::vector<std::string> texts;
};

class RecordingCycle final : public OutcomeSink {
 public:
  void ReportOutcome(UpdateOutcome outcome) override { outcomes.push_back(outcome); }
  std::vector<UpdateOutcome> outcomes;
};

class RefusingClock final : public ClockSetter {
 public:
  bool Set(const SystemTime&) override {
    ++calls;
    return false;
  }
  int calls = 0;
};

// Where an accepted timing packet goes, recorded: the time panel, a dry-run clock and the update
// cycle, wired into a TimingContext whose attempt is waiting for its packet.
struct RecordedAttempt {
  RecordedAttempt() {
    context.TimeReceived = 0;
    context.Panel_Time = &panel;
    context.clock = &clock;
    context.cycle = &cycle;
  }
  RecordedAttempt(const RecordedAttempt&) = delete;
  RecordedAttempt& operator=(const RecordedAttempt&) = delete;

  RecordingText panel;
  DryRunClockSetter clock;
  RecordingCycle cycle;
  TimingContext context;
};

const char* ControlName(Control control);

// The main window in memory, logging the calls that change what the user sees.
class FakeView final : public ViewState {
 public:
  void SetEnabled(Control control, bool value) override;
  void SetCaption(Panel panel, const char* text) override;
  void ShowMessage(const char* text, const char* title, unsigned flags) override;
  void RemoveTrayIcons() override;
  void AddTrayIcon(TrayIconState state) override;
  void PortName(int portNumber, char (&name)[kPortNameSize]) const override;

  std::vector<std::string> log;
  std::string portPath;  // when set, every port number opens this path
};

// A store of named string values in memory, logging reads and writes in order.
class MemoryStore final : public SettingsStore {
 public:
  struct Value {
    std::string text;
    bool isString = true;  // false: a value of another type, which reads as a store error
  };
  std::unique_ptr<StoreKey> OpenKey(StoreRoot root, const char* path) override;

  bool opens = true;      // false: the key can be neither opened nor created
  bool keyExists = false;
  std::map<std::string, Value> values;
  std::vector<std::string> log;  // "read Comm", "write Comm=COM1"
  int openKeys = 0;              // keys open now
};

// An update cycle wired to a view, timers and a dry-run clock in memory; the link has no port
// until the test gives it one.
template <typename View>
struct CycleRigWith {
  // Receiver times of any year are taken as they are: the rollover rule has tests of its own.
  CycleRigWith() { cycle.timing.earliestTime = 0; }

  std::unique_ptr<ReceiverLink> link = std::make_unique<ReceiverLink>();
  View view;
  TimerState timerUpdate{kDefaultUpdateIntervalMs};
  TimerState timerDaro{kPollIntervalMs, true};
  DryRunClockSetter clock;
  UpdateCycle cycle{*link, view, timerUpdate, timerDaro, clock};
};
using CycleRig = CycleRigWith<FakeView>;

// "YYYY-MM-DDTHH:MM:SSZ" of a SystemTime, for readable expectations.
std::string Iso(const SystemTime& time);

}  // namespace clockagent::test
