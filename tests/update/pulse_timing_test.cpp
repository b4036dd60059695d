// The edges of the pulse as a reader gets them, which edge a timing packet belongs to, and the
// whole second it gives that edge.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

#include "update/pulse_timing.h"

namespace clockagent::test {
namespace {

constexpr std::int64_t kMs = 1000000;
constexpr std::int64_t kSecond = 1000 * kMs;
constexpr std::int64_t kTrueSecond = 1828267182 * kSecond;  // the second the pulse marks

// A moment `ns` after the true second on a computer clock `aheadNs` ahead; its monotonic clock
// began 1.8e9 s after 1970.
ClockReading At(std::int64_t ns, std::int64_t aheadNs = 0) {
  return ClockReading{kTrueSecond + ns + aheadNs, kTrueSecond + ns - 1800000000 * kSecond};
}

// The edges of a pulse train: `edges`, after one a second before the first of them.
std::vector<ClockReading> Train(std::vector<ClockReading> edges) {
  const ClockReading before{edges[0].systemNs - kSecond, edges[0].monotonicNs - kSecond};
  edges.insert(edges.begin(), before);
  return edges;
}

TEST(PulseTiming, APacketTakesTheWholeSecondOfItsEdge) {
  // A packet begins `packetAt` after the true second, and says of that moment a time `wander` off.
  const struct {
    const char* name;
    std::vector<ClockReading> edges;
    std::int64_t packetAt, wander, ahead;  // ahead: the computer clock's error
    PulseFit fit;
    std::int64_t edgeAt, offset;  // the edge chosen; the receiver's time less the computer's there
  } cases[] = {
      {"edge seen 30 us late", Train({At(30000)}), 50 * kMs, 7 * kMs, 0, PulseFit::Pulse, 30000,
       -30000},
      {"edge seen 1 ms early", Train({At(-kMs)}), 50 * kMs, -19 * kMs, 0, PulseFit::Pulse, -kMs,
       kMs},
      {"computer 250 ms behind", Train({At(0, -250 * kMs)}), 50 * kMs, 0, -250 * kMs,
       PulseFit::Pulse, 0, 250 * kMs},
      {"computer 3 s ahead", Train({At(0, 3 * kSecond)}), 50 * kMs, 0, 3 * kSecond,
       PulseFit::Pulse, 0, -3 * kSecond},
      {"the latest of three", Train({At(-2 * kSecond), At(-kSecond), At(0)}), 80 * kMs, 0, 0,
       PulseFit::Pulse, 0, 0},
      {"doubled: the later", Train({At(0), At(200000)}), 50 * kMs, 0, 0, PulseFit::Pulse, 200000,
       -200000},
      {"not an edge after the packet began", Train({At(20000 - kSecond), At(60 * kMs)}), 50 * kMs,
       0, 0, PulseFit::Pulse, 20000 - kSecond, -20000},
      {"1.05 s after its edge", Train({At(0)}), 1050 * kMs, 0, 0, PulseFit::Pulse, 0, 0},
      {"no edge", {}, 50 * kMs, 0, 0, PulseFit::NoEdge, 0, 0},
      {"edge 1.2 s before", Train({At(-1150 * kMs)}), 50 * kMs, 0, 0, PulseFit::NoEdge, 0, 0},
      {"only an edge after it", Train({At(51 * kMs)}), 50 * kMs, 0, 0, PulseFit::NoEdge, 0, 0},
      {"0.35 s off: its second", Train({At(0)}), 50 * kMs, 350 * kMs, 0, PulseFit::Pulse, 0, 0},
      {"0.65 s off: the next", Train({At(0)}), 50 * kMs, 650 * kMs, 0, PulseFit::Pulse, 0, kSecond},
      {"0.5 s off", Train({At(0)}), 50 * kMs, 500 * kMs, 0, PulseFit::OffSecond, 0, 0},
      {"0.45 s early", Train({At(0)}), 50 * kMs, -450 * kMs, 0, PulseFit::OffSecond, 0, 0},
      {"a lone edge", {At(0)}, 50 * kMs, 0, 0, PulseFit::NoEdge, 0, 0},
      {"1.006 s after the one before", {At(-1006 * kMs), At(0)}, 50 * kMs, 0, 0, PulseFit::NoEdge,
       0, 0},
      {"a glitch between two edges", {At(-kSecond), At(-300 * kMs), At(0)}, 50 * kMs, 0, 0,
       PulseFit::Pulse, 0, 0},
      {"glitches every 20 ms", {At(-kSecond), At(-40 * kMs), At(-20 * kMs), At(0)}, 50 * kMs, 0, 0,
       PulseFit::Noisy, 0, 0},
      {"three edges in a second, then a train",
       {At(-2900 * kMs), At(-2600 * kMs), At(-2300 * kMs), At(-kSecond), At(0)}, 50 * kMs, 0, 0,
       PulseFit::Pulse, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ClockReading first = At(c.packetAt, c.ahead);
    const ClockSample packet{first.systemNs, kTrueSecond + c.packetAt + c.wander - first.systemNs,
                             first.monotonicNs, 1024, false};
    ClockSample atEdge;
    EXPECT_EQ(FitToPulse(packet, c.edges.data(), static_cast<int>(c.edges.size()), &atEdge), c.fit);
    const ClockReading edge = At(c.edgeAt, c.ahead);
    const ClockSample expected =  // or left untouched
        c.fit == PulseFit::Pulse ? ClockSample{edge.systemNs, c.offset, edge.monotonicNs, 1024, true}
                                 : ClockSample{};
    EXPECT_EQ(std::tie(atEdge.systemNs, atEdge.offsetNs, atEdge.monotonicNs, atEdge.rolloverWeeks,
                       atEdge.atPulse),
              std::tie(expected.systemNs, expected.offsetNs, expected.monotonicNs,
                       expected.rolloverWeeks, expected.atPulse));
  }
  EXPECT_EQ(PulseFallbackText(PulseLine::Cts, PulseFit::OffSecond),
            "pulse on CTS too far from the packet's second: timed by the packet");
  EXPECT_EQ(PulseFallbackText(PulseLine::Dcd, PulseFit::Noisy),
            "pulse on DCD is noisy: timed by the packet");
}

TEST(PulseTiming, AnNmeaBurstGivesTheEdgeBeforeItTheSecondItNames) {
  // However late after its edge the receiver speaks, within a second; the burst's own time at its
  // first byte is the named second itself, however far that is from the moment.
  for (const auto& [burstAt, fit] : std::vector<std::pair<std::int64_t, PulseFit>>{
           {50 * kMs, PulseFit::Pulse}, {500 * kMs, PulseFit::Pulse}, {700 * kMs, PulseFit::Pulse},
           {950 * kMs, PulseFit::Pulse}, {1050 * kMs, PulseFit::NoEdge}}) {
    const auto edges = Train({At(0)});
    const ClockReading first = At(burstAt);
    ClockSample burst{first.systemNs, kTrueSecond - first.systemNs, first.monotonicNs, 0, false};
    burst.namedSecondNs = kTrueSecond;
    EXPECT_EQ(FitToPulse(burst, edges.data(), static_cast<int>(edges.size()), &burst), fit) << burstAt;
    if (fit == PulseFit::Pulse) {
      EXPECT_EQ(std::tie(burst.systemNs, burst.offsetNs), std::make_tuple(At(0).systemNs, 0))
          << burstAt;
    }
  }
}

// Edge number i, whose two stamps tell each other: a copy of half of one edge shows.
ClockReading Edge(std::int64_t i) { return {i * 1000000007, i}; }

TEST(PulseEdges, AReaderGetsTheLatestWholeEdgesOldestFirstAlsoWhileTheyAreWritten) {
  const struct {
    int added, first, count;
  } cases[] = {{0, 0, 0}, {3, 1, 3}, {6, 1, 6}, {7, 2, 6}, {100000, 99995, 6}};
  for (const auto& c : cases) {
    PulseEdges ring;
    std::atomic<bool> written{false};
    std::thread watcher([&ring, &c, &written] {
      for (int i = 1; i <= c.added; ++i) ring.Add(Edge(i));
      written = true;
    });
    ClockReading got[PulseEdges::kKept];
    int n = 0;
    for (bool last = false; !last;) {  // while the watcher writes over the slots, and once after
      last = written;
      n = ring.Latest(got);
      for (int i = 0; i < n; ++i) {
        EXPECT_EQ(got[i].systemNs, Edge(got[i].monotonicNs).systemNs) << "torn";
        EXPECT_EQ(got[i].monotonicNs, got[n - 1].monotonicNs - (n - 1 - i)) << "not in order";
      }
    }
    watcher.join();
    EXPECT_EQ(n, c.count) << c.added;
    EXPECT_EQ(n > 0 ? got[0].monotonicNs : 0, c.first) << c.added;
  }
}

}  // namespace
}  // namespace clockagent::test
