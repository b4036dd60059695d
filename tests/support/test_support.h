// Shared test helpers: captures, byte literals and recording stand-ins for the core's outlets.
#pragma once

#include <array>
#include <chrono>
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
#include "update/cycle_front_end.h"
#include "update/timer.h"
#include "update/update_outcome.h"

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
template <std::size_t N>
Bytes Frame(std::uint8_t id, const std::array<std::uint8_t, N>& data) {
  return Frame(id, Bytes(data.begin(), data.end()));
}

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
  std::intptr_t ArrivalHandle() override { return -1; }
  bool WaitForBytes(std::chrono::milliseconds) override { return QueuedBytes() > 0; }
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
  std::intptr_t ArrivalHandle() override { return -1; }
  bool WaitForBytes(std::chrono::milliseconds) override { return !incoming.empty(); }
  bool WatchPulse(PulseLine, LinkClock&, PulseEdges& edges) override {
    pulse = watchesPulse ? &edges : nullptr;
    return watchesPulse;
  }

  bool opens = true;        // what Open answers
  bool watchesPulse = false;    // then the test adds the pulse's edges to `pulse`
  PulseEdges* pulse = nullptr;
  Bytes incoming;           // what the receiver has sent and the port holds
  std::vector<std::string> calls;
  std::vector<Bytes> writes;
};

// Accepted timing packets, as the receiver reports them.
class RecordingSink final : public TimingSink {
 public:
  void TimingPacketReceived(const TimingReport& report) override { reports.push_back(report); }
  std::vector<TimingReport> reports;
};

// The timing context of a reader of the receiver, reporting to a recording sink.
struct RecordedAttempt {
  RecordedAttempt() { context.sink = &sink; }
  RecordedAttempt(const RecordedAttempt&) = delete;
  RecordedAttempt& operator=(const RecordedAttempt&) = delete;

  // The receiver time of the one report as a calendar time, "bad" when no clock takes it.
  std::string ReportedTime() const;
  // Each report's time of week, as the window shows it.
  std::vector<std::string> TimesOfWeek() const;

  RecordingSink sink;
  TimingContext context;
};

// The link's clocks for tests: pauses take no time, and the time is what the test says.
class FakeLinkClock final : public LinkClock {
 public:
  ClockReading Now() override { return now; }
  void Pause(std::chrono::milliseconds duration) override { paused += duration; }
  ClockReading now;
  std::chrono::milliseconds paused{0};
};

class RefusingClock final : public ClockSetter {
 public:
  bool Set(const SystemTime&) override {
    ++calls;
    return false;
  }
  int calls = 0;
};

// The update cycle's front end, recorded: the choices are the test's, the events are logged.
class RecordingFront final : public CycleFrontEnd {
 public:
  RecordingFront() { choices.intervalMs = 21600000; }  // "00 06:00", as the window starts

  CycleChoices Choices() override { return choices; }
  void AttemptBegan() override;
  void TimeOfWeekReceived(const TimingFields& fields, TimeType timeType) override;
  void AttemptEnded(const AttemptResult& result) override;
  void ScheduleChanged(bool started) override;
  void Refused(const char* message) override;

  // The last outcome's status text and its counters, "Success" and "1/1"; empty before any.
  std::string Status() const;
  std::string Counters() const;

  CycleChoices choices;
  std::vector<std::string> log;  // "began", "time of week  Wed 12:00:00.00", "ended Success 1/1",
                                 // "started", "stopped", "refused: ..."
  std::vector<AttemptResult> results;
  std::string timeOfWeek;        // the last one received, as the window shows it
  bool started = false;
};

// An update cycle over a port the test holds, with timers as plain state, a dry-run clock, link
// clocks that do not pause, and a front end (a recording one unless the test has its own).
// Receiver times of any year are taken as they are: the rollover rule has tests of its own.
template <typename Front>
struct CycleRigWith {
  explicit CycleRigWith(SerialPort& port) : engine(port, timerUpdate, timerPoll, clock, front) {
    engine.link->clock = &linkClock;
    engine.cycle.SetEarliestReceiverTime(0);
  }

  Front front;
  TimerState timerUpdate{kDefaultUpdateIntervalMs};
  TimerState timerPoll{kPollIntervalMs, true};
  DryRunClockSetter clock;
  FakeLinkClock linkClock;
  UpdateEngine engine;
  UpdateCycle& cycle = engine.cycle;
  ReceiverLink& link = *engine.link;
};
using CycleRig = CycleRigWith<RecordingFront>;

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

// "YYYY-MM-DDTHH:MM:SSZ" of a SystemTime, for readable expectations.
std::string Iso(const SystemTime& time);

}  // namespace clockagent::test
