// The discipline against a simulated clock with a wandering frequency error and pulse jitter.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "update/clock_discipline.h"

namespace clockagent::test {
namespace {

// A clock running `freqPpm` fast by itself that takes `follows` times the rate set (1: as meant,
// -1: the wrong way round, 0: not at all).
struct SimulatedClock {
  double freqPpm;
  double offsetNs;  // the receiver's time less the clock's
  double follows = 1;
  double ratePpm = 0;
  double timeNs = 1.8e18;  // 2027
  std::mt19937_64 random{7};

  // One good update with `extraNs` added to its sample, then a minute at the rate it sets.
  DisciplineAction Update(ClockDiscipline& discipline, double extraNs = 0) {
    const std::int64_t measured =
        std::llround(offsetNs + extraNs + std::normal_distribution<double>(0, 30000)(random));
    const auto action = discipline.Update(std::llround(timeNs - offsetNs), measured, 60);
    if (action.step) offsetNs -= static_cast<double>(measured);
    Run(action.ratePpm);
    return action;
  }
  void Settle(ClockDiscipline& discipline) { for (int i = 0; i < 30; ++i) Update(discipline); }
  void Run(double rate) {
    ratePpm = rate;
    for (int s = 0; s < 60; ++s, timeNs += 1e9) {
      freqPpm += std::normal_distribution<double>(0, 0.002)(random);  // wander
      offsetNs -= (freqPpm + follows * ratePpm) * 1000;
    }
  }
};

TEST(ClockDiscipline, ConvergesWithinFourUpdatesAndStaysClose) {
  const double cases[][2] = {{100, 3e8}, {100, -3e8}, {-100, 3e8}, {3, 2e8}, {-250, -1.3e8}};
  for (const auto& [freqPpm, offsetNs] : cases) {
    SCOPED_TRACE(freqPpm);
    ClockDiscipline discipline;
    SimulatedClock clock{freqPpm, offsetNs};
    EXPECT_TRUE(clock.Update(discipline).step);
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(clock.Update(discipline).step);
    EXPECT_LT(std::fabs(clock.offsetNs), 0.25e6);  // as the fourth update finds it
    clock.Update(discipline);
    EXPECT_NEAR(clock.ratePpm, -freqPpm, 2);
    double sumNs = 0;
    for (int i = 0; i < 240; ++i, clock.Update(discipline)) sumNs += std::fabs(clock.offsetNs);
    EXPECT_LT(sumNs / 240, 0.05e6);
  }
}

TEST(ClockDiscipline, StepsOnlyBeyondTheThreshold) {
  for (const std::int64_t offsetNs : {129000000, -129000000, 127000000, -127000000}) {
    ClockDiscipline discipline;
    const DisciplineAction action = discipline.Update(1800000000000000000, offsetNs, 60);
    const bool step = std::abs(offsetNs) > 128000000;
    EXPECT_EQ(action.step, step) << offsetNs;
    EXPECT_EQ(action.ratePpm, step ? 0 : kLargestRatePpm * (offsetNs > 0 ? 1 : -1));
  }
}

TEST(ClockDiscipline, HoldsTheFrequencyThroughFailedUpdates) {
  for (const double freqPpm : {100.0, -37.0}) {
    ClockDiscipline discipline;
    SimulatedClock clock{freqPpm, 0.3e9};
    clock.Settle(discipline);
    for (int i = 0; i < 3; ++i) {
      clock.Run(discipline.Holdover());
      EXPECT_NEAR(clock.ratePpm, -clock.freqPpm, 0.5);
      EXPECT_LT(std::fabs(clock.offsetNs), 1e6);
    }
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(clock.Update(discipline).step);
    EXPECT_LT(std::fabs(clock.offsetNs), 0.2e6);
  }
}

// The rate follows a change of the clock's frequency but not one late or early sample.
TEST(ClockDiscipline, FollowsAFrequencyChangeButNotOneOddSample) {
  // The sample's extra, the frequency change and the most the rate may move at that update.
  const double cases[][3] = {{5e6, 0, 1.5}, {-5e6, 0, 1.5}, {0, 5, 11}, {0, -5, 11}};
  for (const auto& [extraNs, freqChangePpm, largestRateChangePpm] : cases) {
    SCOPED_TRACE(extraNs + freqChangePpm);
    ClockDiscipline discipline;
    SimulatedClock clock{100, 0.3e9};
    clock.Settle(discipline);
    const double before = clock.ratePpm;
    clock.freqPpm += freqChangePpm;
    clock.Update(discipline, extraNs);
    EXPECT_LT(std::fabs(clock.ratePpm - before), largestRateChangePpm);
    for (int i = 0; i < 60; ++i) {
      clock.Update(discipline);
      EXPECT_LT(std::fabs(clock.offsetNs), (i < 2 ? 1e6 : 0.15e6)) << i;
    }
    EXPECT_NEAR(clock.ratePpm, -clock.freqPpm, 1);
    EXPECT_FALSE(discipline.NotFollowing());
  }
}

TEST(ClockDiscipline, GivesUpOnAClockThatDoesNotFollowItsRate) {
  for (const double follows : {-1.0, 0.0}) {
    ClockDiscipline discipline;
    SimulatedClock clock{100, 0.3e9, follows};
    int updates = 0;
    for (; !discipline.NotFollowing() && updates < 20; ++updates) clock.Update(discipline);
    EXPECT_LE(updates, 5) << follows;
    EXPECT_TRUE(clock.Update(discipline).step);
    EXPECT_EQ(clock.ratePpm, 0);
    discipline.Reset();
    EXPECT_FALSE(discipline.NotFollowing());
    EXPECT_FALSE(clock.Update(discipline).step);
  }
}

TEST(AdjustmentDither, AveragesToTheWantedRateAlternatingNeighbours) {
  const std::pair<std::uint64_t, double> cases[] = {
      {156250, -100.012}, {156250, 0}, {156250, 37.5}, {156250, 0.0031}, {100000, -499.99}};
  for (const auto& [increment, ppm] : cases) {
    AdjustmentDither dither(increment);
    dither.SetRate(ppm);
    const double wanted = static_cast<double>(increment) * (1 + ppm * 1e-6);
    double sum = 0;
    for (int i = 0; i < 1000000; ++i) {
      const auto value = static_cast<double>(dither.Next());
      ASSERT_TRUE(value == std::floor(wanted) || value == std::ceil(wanted)) << value;
      sum += value;
    }
    EXPECT_NEAR((sum / 1000000 / static_cast<double>(increment) - 1) * 1e6, ppm, 0.01);
  }
}

}  // namespace
}  // namespace clockagent::test
