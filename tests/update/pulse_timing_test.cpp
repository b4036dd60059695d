// Which edge of the pulse a timing packet belongs to, and the whole second it gives that edge.
#include <gtest/gtest.h>

#include <vector>

#include "update/pulse_timing.h"

namespace clockagent::test {
namespace {

constexpr std::int64_t kMs = 1000000;
constexpr std::int64_t kSecond = 1000 * kMs;
constexpr std::int64_t kTrueSecond = 1828267182 * kSecond;  // the second the pulse marks
constexpr std::int64_t kBoot = 1800000000 * kSecond;        // the monotonic clock's zero

// A moment `ns` after the true second, read on a computer clock `aheadNs` ahead.
ClockReading At(std::int64_t ns, std::int64_t aheadNs = 0) {
  return ClockReading{kTrueSecond + ns + aheadNs, kTrueSecond + ns - kBoot};
}

TEST(PulseTiming, APacketTakesTheWholeSecondOfItsEdge) {
  // Packets begin 50 ms after the true second; what they say of that moment is `wanderNs` off.
  const struct {
    const char* name;
    std::vector<ClockReading> edges;
    std::int64_t packetAtNs;
    std::int64_t wanderNs;
    std::int64_t aheadNs;  // the computer clock's error
    PulseFit fit;
    std::int64_t edgeAtNs;  // the chosen edge's moment
    std::int64_t offsetNs;  // the receiver's time less the computer's at that edge
  } cases[] = {
      {"edge seen 30 us late, packet 7 ms late", {At(30000)}, 50 * kMs, 7 * kMs, 0, PulseFit::Pulse,
       30000, -30000},
      {"edge seen 1 ms early, packet 19 ms early", {At(-kMs)}, 50 * kMs, -19 * kMs, 0,
       PulseFit::Pulse, -kMs, kMs},
      {"computer 250 ms behind", {At(0, -250 * kMs)}, 50 * kMs, 0, -250 * kMs, PulseFit::Pulse, 0,
       250 * kMs},
      {"computer 3 s ahead", {At(0, 3 * kSecond)}, 50 * kMs, 0, 3 * kSecond, PulseFit::Pulse, 0,
       -3 * kSecond},
      {"the latest of several seconds", {At(-2 * kSecond), At(-kSecond), At(0)}, 80 * kMs, 0, 0,
       PulseFit::Pulse, 0, 0},
      {"doubled edge: the later", {At(0), At(200000)}, 50 * kMs, 0, 0, PulseFit::Pulse, 200000,
       -200000},
      {"an edge after the packet began is not its own", {At(-kSecond + 20000), At(60 * kMs)},
       50 * kMs, 0, 0, PulseFit::Pulse, -kSecond + 20000, -20000},
      {"a packet 1.05 s after its edge", {At(0)}, 1050 * kMs, 0, 0, PulseFit::Pulse, 0, 0},
      {"no edge", {}, 50 * kMs, 0, 0, PulseFit::NoEdge, 0, 0},
      {"edge 1.2 s before", {At(-1150 * kMs)}, 50 * kMs, 0, 0, PulseFit::NoEdge, 0, 0},
      {"only an edge after the packet", {At(51 * kMs)}, 50 * kMs, 0, 0, PulseFit::NoEdge, 0, 0},
      {"packet 0.35 s off: still its second", {At(0)}, 50 * kMs, 350 * kMs, 0, PulseFit::Pulse, 0,
       0},
      {"packet 0.65 s off: the next second", {At(0)}, 50 * kMs, 650 * kMs, 0, PulseFit::Pulse, 0,
       kSecond},
      {"packet 0.5 s off", {At(0)}, 50 * kMs, 500 * kMs, 0, PulseFit::OffSecond, 0, 0},
      {"packet 0.45 s early", {At(0)}, 50 * kMs, -450 * kMs, 0, PulseFit::OffSecond, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ClockReading first = At(c.packetAtNs, c.aheadNs);
    ClockSample packet;
    packet.systemNs = first.systemNs;
    packet.monotonicNs = first.monotonicNs;
    packet.offsetNs = kTrueSecond + c.packetAtNs + c.wanderNs - first.systemNs;
    packet.rolloverWeeks = 1024;
    ClockSample atEdge;
    atEdge.offsetNs = -1;
    EXPECT_EQ(FitToPulse(packet, c.edges.data(), static_cast<int>(c.edges.size()), &atEdge), c.fit);
    if (c.fit != PulseFit::Pulse) {
      EXPECT_EQ(atEdge.offsetNs, -1);
      continue;
    }
    const ClockReading edge = At(c.edgeAtNs, c.aheadNs);
    EXPECT_EQ(atEdge.systemNs, edge.systemNs);
    EXPECT_EQ(atEdge.monotonicNs, edge.monotonicNs);
    EXPECT_EQ(atEdge.offsetNs, c.offsetNs);
    EXPECT_EQ(atEdge.rolloverWeeks, 1024);
  }
}

TEST(PulseTiming, SaysWhyThePacketTimedTheAttempt) {
  EXPECT_EQ(PulseFallbackText(PulseLine::Dcd, PulseFit::NoEdge),
            "no pulse on DCD within a second: timed by the packet");
  EXPECT_EQ(PulseFallbackText(PulseLine::Cts, PulseFit::OffSecond),
            "pulse on CTS too far from the packet's second: timed by the packet");
}

}  // namespace
}  // namespace clockagent::test
