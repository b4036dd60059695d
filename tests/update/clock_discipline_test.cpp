// The discipline against a simulated clock: a frequency error that wanders, pulse jitter, an update
// a minute over hours.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "update/clock_discipline.h"

namespace clockagent::test {
namespace {

constexpr double kNsPerMs = 1e6;

// A clock running `freqPpm` fast by itself that takes `follows` times the rate set (1: as meant,
// -1: the wrong way round, 0: not at all).
struct SimulatedClock {
  double freqPpm = 0;
  double offsetNs = 0;  // the receiver's time less the clock's
  double follows = 1;
  double ratePpm = 0;
  double timeNs = 1.8e18;
  std::mt19937_64 random{7};

  std::int64_t Measured() {
    return std::llround(offsetNs + std::normal_distribution<double>(0, 30000)(random));
  }
  // One good update with `extraNs` added to its sample, then a minute at the rate it sets.
  DisciplineAction Update(ClockDiscipline& discipline, double extraNs = 0) {
    const std::int64_t measured = Measured() + std::llround(extraNs);
    const DisciplineAction action =
        discipline.Update(std::llround(timeNs - offsetNs), measured, 60);
    if (action.step) offsetNs -= static_cast<double>(measured);
    ratePpm = action.ratePpm;
    Run();
    return action;
  }
  void Holdover(ClockDiscipline& discipline) {
    ratePpm = discipline.Holdover();
    Run();
  }
  void Run() {
    for (int s = 0; s < 60; ++s) {
      freqPpm += std::normal_distribution<double>(0, 0.002)(random);  // wander
      offsetNs -= (freqPpm + follows * ratePpm) * 1000;
      timeNs += 1e9;
    }
  }
};

// Started 0.3 s off and settled for half an hour.
SimulatedClock Settled(ClockDiscipline& discipline, double freqPpm) {
  SimulatedClock clock;
  clock.freqPpm = freqPpm;
  clock.offsetNs = 0.3e9;
  for (int i = 0; i < 30; ++i) clock.Update(discipline);
  return clock;
}

TEST(ClockDiscipline, ConvergesWithinFourUpdatesAndStaysClose) {
  const struct {
    double freqPpm;
    double offsetNs;
  } cases[] = {{100, 0.3e9}, {100, -0.3e9}, {-100, 0.3e9}, {3, 0.2e9}, {-250, -0.13e9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.freqPpm);
    ClockDiscipline discipline;
    SimulatedClock clock;
    clock.freqPpm = c.freqPpm;
    clock.offsetNs = c.offsetNs;
    EXPECT_TRUE(clock.Update(discipline).step);
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(clock.Update(discipline).step);
    EXPECT_LT(std::fabs(clock.offsetNs), 0.25 * kNsPerMs);  // as the fourth update finds it
    clock.Update(discipline);
    EXPECT_NEAR(clock.ratePpm, -c.freqPpm, 2);
    double sumNs = 0;
    for (int i = 0; i < 240; ++i) {
      sumNs += std::fabs(clock.offsetNs);
      EXPECT_LT(std::fabs(clock.offsetNs), 0.3 * kNsPerMs);
      clock.Update(discipline);
    }
    EXPECT_LT(sumNs / 240, 0.05 * kNsPerMs);
    EXPECT_FALSE(discipline.NotFollowing());
  }
}

TEST(ClockDiscipline, StepsOnlyBeyondTheThreshold) {
  const struct {
    std::int64_t offsetNs;
    bool step;
  } cases[] = {{129000000, true}, {-129000000, true}, {127000000, false}, {-127000000, false}};
  for (const auto& c : cases) {
    ClockDiscipline discipline;
    const DisciplineAction action = discipline.Update(1800000000000000000, c.offsetNs, 60);
    EXPECT_EQ(action.step, c.step) << c.offsetNs;
    EXPECT_EQ(action.ratePpm, c.step ? 0 : kLargestRatePpm * (c.offsetNs > 0 ? 1 : -1));
  }
}

TEST(ClockDiscipline, HoldsTheFrequencyThroughFailedUpdates) {
  for (const double freqPpm : {100.0, -37.0}) {
    ClockDiscipline discipline;
    SimulatedClock clock = Settled(discipline, freqPpm);
    for (int i = 0; i < 3; ++i) {
      clock.Holdover(discipline);
      EXPECT_NEAR(clock.ratePpm, -clock.freqPpm, 0.5);
      EXPECT_LT(std::fabs(clock.offsetNs), 1 * kNsPerMs);
    }
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(clock.Update(discipline).step);
    EXPECT_LT(std::fabs(clock.offsetNs), 0.2 * kNsPerMs);
  }
}

// A late or early sample, or the clock's frequency changed: the rate may follow the second but not
// the first, and neither is the clock not following.
TEST(ClockDiscipline, FollowsAFrequencyChangeButNotOneOddSample) {
  const struct {
    double extraNs;
    double freqChangePpm;
    double largestRateChangePpm;
  } cases[] = {{5e6, 0, 1.5}, {-5e6, 0, 1.5}, {0, 5, 11}, {0, -5, 11}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extraNs + c.freqChangePpm);
    ClockDiscipline discipline;
    SimulatedClock clock = Settled(discipline, 100);
    const double before = clock.ratePpm;
    clock.freqPpm += c.freqChangePpm;
    clock.Update(discipline, c.extraNs);
    EXPECT_LT(std::fabs(clock.ratePpm - before), c.largestRateChangePpm);
    for (int i = 0; i < 60; ++i) {
      clock.Update(discipline);
      EXPECT_LT(std::fabs(clock.offsetNs), (i < 2 ? 1 : 0.15) * kNsPerMs) << i;
    }
    EXPECT_NEAR(clock.ratePpm, -clock.freqPpm, 1);
    EXPECT_FALSE(discipline.NotFollowing());
  }
}

TEST(ClockDiscipline, GivesUpOnAClockThatDoesNotFollowItsRate) {
  for (const double follows : {-1.0, 0.0}) {
    SCOPED_TRACE(follows);
    ClockDiscipline discipline;
    SimulatedClock clock;
    clock.follows = follows;
    clock.freqPpm = 100;
    clock.offsetNs = 0.3e9;
    int updates = 0;
    while (!discipline.NotFollowing() && updates < 20) clock.Update(discipline), ++updates;
    EXPECT_LE(updates, 5);
    const DisciplineAction action = clock.Update(discipline);
    EXPECT_TRUE(action.step);
    EXPECT_EQ(action.ratePpm, 0);
    discipline.Reset();
    EXPECT_FALSE(discipline.NotFollowing());
    EXPECT_FALSE(clock.Update(discipline).step);
  }
}

TEST(AdjustmentDither, AveragesToTheWantedRateAlternatingNeighbours) {
  const struct {
    std::uint64_t increment;
    double ppm;
  } cases[] = {{156250, -100.012}, {156250, 0}, {156250, 37.5}, {156250, 0.0031}, {100000, -499.99}};
  for (const auto& c : cases) {
    AdjustmentDither dither(c.increment);
    dither.SetRate(c.ppm);
    const double wanted = static_cast<double>(c.increment) * (1 + c.ppm * 1e-6);
    constexpr int kPeriods = 1000000;
    double sum = 0;
    for (int i = 0; i < kPeriods; ++i) {
      const auto value = static_cast<double>(dither.Next());
      ASSERT_TRUE(value == std::floor(wanted) || value == std::ceil(wanted)) << value;
      sum += value;
    }
    EXPECT_NEAR((sum / kPeriods / static_cast<double>(c.increment) - 1) * 1e6, c.ppm, 0.01);
  }
}

}  // namespace
}  // namespace clockagent::test
