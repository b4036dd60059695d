// Fuzzes the receive loop with dispatch and both timing-packet handlers over arbitrary bytes,
// each accepted packet applied to a dry-run clock as the update cycle applies it.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "receiver/daro_link.h"
#include "receiver/timing_packets.h"
#include "update/clock_setter.h"
#include "update/clock_setting.h"

namespace {

using namespace clockagent;

// Applies each accepted packet as the update cycle does: the display text, the rollover rule and
// the clock.
struct Applier final : TimingSink {
  void TimingPacketReceived(const TimingReport& report) override {
    char text[kTimeOfWeekTextSize];
    FormatTimeOfWeek(report.fields.timeOfWeek, text);
    // The display text is always one of three forms.
    if (text[0] != ' ' && text[0] != '<') __builtin_trap();
    double receiverTime = report.receiverTime;
    CorrectWeekRollover(&receiverTime, kReleaseReceiverTime);
    SystemTime asked;
    const UpdateOutcome outcome = ApplyReceiverTime(receiverTime, clock, &asked);
    if (outcome != UpdateOutcome::Success && outcome != UpdateOutcome::BadTime) __builtin_trap();
    // An accepted time was set exactly when it is a valid calendar time, on or after the release.
    std::int64_t seconds = 0;
    if (outcome == UpdateOutcome::Success &&
        (!SystemTimeToUnixSeconds(clock.last, &seconds) || receiverTime < kReleaseReceiverTime)) {
      __builtin_trap();
    }
    ++reports;
  }
  DryRunClockSetter clock;
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
  link->inPacket = 0;
  link->isOpen = 1;
  Applier applier;
  TimingContext context;
  context.sink = &applier;

  ReceiveBytes(*link, data, size, [&](ReceiverLink& completed) {
    if (completed.packetLength > kPacketBufferSize) __builtin_trap();
    DispatchPacket(completed, context);
  });
  if (link->rxPos != 0 || link->rxRemaining != 0) __builtin_trap();
  if (link->packetCount < 0 || link->packetCount > static_cast<std::int32_t>(kPacketBufferSize)) {
    __builtin_trap();
  }
  return 0;
}
