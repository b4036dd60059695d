// Holding the clock between updates by its rate: from the offsets successive updates measure, an
// estimate of how fast the clock runs by itself, and the rate that keeps it on time. Pure: it is
// given the samples and says what to do with the clock; the cycle does it.
#pragma once

#include <cstdint>

namespace clockagent {

// An offset larger than this is stepped away; a smaller one never is.
constexpr std::int64_t kStepThresholdNs = 128000000;
// The most the rate set may differ from the clock's own, either way.
constexpr double kLargestRatePpm = 500.0;

// What the cycle does with an update's sample.
struct DisciplineAction {
  bool step = false;     // step the clock by the sample's offset (then run at ratePpm)
  double ratePpm = 0;    // the rate to set: parts per million faster than the clock runs by
                         // itself (negative: slower)
};

class ClockDiscipline {
 public:
  // The sample of a good update: its moment on the system clock and the receiver's time less the
  // system clock then (positive: the clock is behind), with `intervalSeconds` the time until the
  // next update is due (the phase correction spreads the offset over a time that suits it).
  DisciplineAction Update(std::int64_t systemNs, std::int64_t offsetNs, double intervalSeconds);

  // An update that gave no sample (no receiver, a refused time): the rate for the time until the
  // next, the frequency estimate without the phase correction (holdover).
  double Holdover();

  // True once the clock has been seen not to follow its rate (the offset moving away over the
  // updates after a rate change, in the direction the rate should have closed): the cycle hands
  // the clock back and steps from then on. Cleared by Reset.
  bool NotFollowing() const { return notFollowing_; }

  // The rate in force, as the last Update or Holdover set it.
  double RatePpm() const { return ratePpm_; }

  // Forgets every sample and estimate: a new start.
  void Reset();

 private:
  double ratePpm_ = 0;
  bool notFollowing_ = false;
};

// Windows' legacy adjustment adds whole 100 ns units per clock interrupt (one unit is 6.4 ppm at
// 15.625 ms); the precise one whole units of its increment. A rate between two values is reached
// on average by alternating them: each period gets the value Next returns, what it dropped carried
// into the next.
class AdjustmentDither {
 public:
  // `increment`: the units the clock advances by per period at its own rate (GetSystemTime
  // Adjustment's time increment).
  explicit AdjustmentDither(std::uint64_t increment) : increment_(increment) {}
  void SetRate(double ppm);
  // The adjustment for the next period.
  std::uint64_t Next();

 private:
  std::uint64_t increment_;
  double wanted_ = 0;  // in units, fractional
  double carry_ = 0;
};

}  // namespace clockagent
