// Fuzzes the receive loop with dispatch and both timing-packet handlers over arbitrary bytes,
// ending in a dry-run clock and a recording outcome sink.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "receiver/daro_link.h"
#include "receiver/timing_packets.h"
#include "update/clock_setter.h"
#include "update/clock_setting.h"

namespace {

using namespace clockagent;

struct Panel final : TextTarget {
  void SetText(const char* text) override {
    // The display text is always one of three forms and fits its buffer.
    if (text[0] != ' ' && text[0] != '<') __builtin_trap();
  }
};

struct Cycle final : OutcomeSink {
  void ReportOutcome(UpdateOutcome outcome) override {
    if (outcome != UpdateOutcome::Success && outcome != UpdateOutcome::BadTime) __builtin_trap();
    last = outcome;
    ++reports;
  }
  UpdateOutcome last = UpdateOutcome::DaroFailure;
  int reports = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One link for all inputs, its framing state set back as an open does (and the id too), so no
  // input depends on the one before.
  static auto link = std::make_unique<ReceiverLink>();
  link->rxPos = 0;
  link->rxRemaining = 0;
  link->packetCount = 0;
  link->packetLength = 0;
  link->packetId = 0;
  link->afterDle = 0;
  link->isOpen = 1;
  Panel panel;
  DryRunClockSetter clock;
  Cycle cycle;
  TimingContext context;
  context.TimeReceived = 0;
  context.Panel_Time = &panel;
  context.clock = &clock;
  context.cycle = &cycle;

  ReceiveBytes(*link, data, size, [&](ReceiverLink& completed) {
    if (completed.packetLength > kPacketBufferSize) __builtin_trap();
    const int reportsBefore = cycle.reports;
    DispatchPacket(completed, context);
    if (cycle.reports != reportsBefore) {
      // An accepted time was set exactly when it is a valid calendar time.
      std::int64_t seconds = 0;
      if (cycle.last == UpdateOutcome::Success && !SystemTimeToUnixSeconds(clock.last, &seconds)) {
        __builtin_trap();
      }
      context.TimeReceived = 0;  // a new attempt, so every timing packet is looked at
    }
  });
  if (link->rxPos != 0 || link->rxRemaining != 0) __builtin_trap();
  if (link->packetCount < 0 || link->packetCount > static_cast<std::int32_t>(kPacketBufferSize)) {
    __builtin_trap();
  }
  return 0;
}
