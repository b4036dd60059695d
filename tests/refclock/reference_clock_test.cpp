// The reference clock driven by hand: a port in memory, clocks that stand still, and an output
// that takes every sample.
#include <gtest/gtest.h>

#include "refclock/reference_clock.h"
#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

struct TakingOutput final : SampleOutput {
  bool Send(const ClockSample&, std::int64_t) override { return true; }
};

TEST(ReferenceClock, EachPacketIsTimedByThePacketOrThePulseAndTheStatusSaysHow) {
  // Week 2500, 84:00:00 into it, 18 s of UTC offset: 1828267182 s in UTC, the system clock's time
  // as the packet is read. Its first byte began the frame's 21 characters (1.04 ms each) earlier.
  const Bytes good = Frame(0x8F, {0xAB, 0, 4, 0x9D, 0x40, 9, 0xC4, 0, 18, 0, 0, 0, 0, 0, 0, 0, 0});
  Bytes notSet = good;
  notSet[11] = kTimeNotSetFlag;  // the flags, after DLE, the id and nine data bytes
  const std::string from = ", receiving 0x8F-AB broadcasts from /dev/gps0, ";
  constexpr std::int64_t kMs = 1000000, kNoEdge = -1;
  const struct {  // a packet every 2 s
    const Bytes* packet;
    std::int64_t edgeNs;  // how long before the packet was read the pulse rose, and a second before
    bool told;            // the tick after it had a change to tell
    std::string status;
  } steps[] = {
      {&notSet, 50 * kMs, true,
       "samples 0, last offset none, the receiver on /dev/gps0 has no usable time (receiver: its "
       "time is not yet set)"},
      {&good, 50 * kMs, true,
       "samples 1, last offset +0.050000 s" + from + "timed by the pulse on DCD"},
      {&good, 50 * kMs, false,
       "samples 2, last offset +0.050000 s" + from + "timed by the pulse on DCD"},
      {&good, kNoEdge, true,
       "samples 3, last offset +0.021875 s" + from +
           "no pulse on DCD within a second: timed by the packet"},
      {&good, 550 * kMs, true,
       "samples 4, last offset +0.021875 s" + from +
           "pulse on DCD too far from the packet's second: timed by the packet"},
  };
  RecordingPort port;
  port.watchesPulse = true;
  FakeLinkClock clock;
  CycleChoices choices;
  choices.port.device = "/dev/gps0";
  choices.pulse = PulseLine::Dcd;
  std::vector<std::unique_ptr<SampleOutput>> outputs;
  outputs.push_back(std::make_unique<TakingOutput>());
  ReferenceClock refclock(choices, port, clock, std::move(outputs));
  ASSERT_TRUE(refclock.Tick());
  ASSERT_NE(port.pulse, nullptr);
  const ArrivalHandler arrival = refclock.Arrival();
  for (const auto& step : steps) {
    clock.now = {1828267182000 * kMs, clock.now.monotonicNs + 2000 * kMs};
    for (const std::int64_t before : {step.edgeNs + 1000 * kMs, step.edgeNs}) {  // a train
      if (step.edgeNs == kNoEdge) continue;
      port.pulse->Add({clock.now.systemNs - before, clock.now.monotonicNs - before});
    }
    arrival.onArrival();  // the port seen empty, then the packet in it
    port.incoming = *step.packet;
    arrival.onArrival();
    EXPECT_EQ(refclock.Tick(), step.told) << step.status;
    EXPECT_EQ(refclock.StatusText(), step.status);
  }
}

}  // namespace
}  // namespace clockagent::test
