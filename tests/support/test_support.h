// Shared test helpers: captures, byte literals and recording stand-ins for the core's outlets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "receiver/daro_link.h"
#include "receiver/serial_port.h"
#include "receiver/timing_packets.h"
#include "update/clock_setter.h"
#include "update/clock_setting.h"
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

class RecordingPort final : public SerialPort {
 public:
  void Write(const std::uint8_t* frame, std::size_t length) override {
    writes.emplace_back(frame, frame + length);
  }
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

// "YYYY-MM-DDTHH:MM:SSZ" of a SystemTime, for readable expectations.
std::string Iso(const SystemTime& time);

}  // namespace clockagent::test
