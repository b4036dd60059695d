// Holding the clock between updates by its rate: from the offsets successive updates measure, an
// estimate of how fast the clock runs by itself, and the rate that keeps it on time. Pure: it is
// given the samples and says what to do with the clock; the cycle does it.
#pragma once

#include <array>
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
  // The newest samples, oldest first from start_. Times are the receiver's (the system clock's
  // plus the offset): a step does not bend them.
  struct Sample {
    std::int64_t timeNs = 0;
    double freeNs = 0;  // the offset the clock would show had we never touched it
  };
  static constexpr int kHistory = 8;

  void Advance(std::int64_t untilNs);
  double Estimate();
  bool CheckFollowing(std::int64_t timeNs, std::int64_t offsetNs);

  std::array<Sample, kHistory> samples_{};
  int start_ = 0;
  int count_ = 0;

  double correctionNs_ = 0;       // what we did to the clock since the first sample: rates, steps
  std::int64_t lastEventNs_ = 0;  // when the rate in force was set, on the receiver's time
  double intervalSeconds_ = 60;
  double freqPpm_ = 0;  // the rate that cancels the clock's own frequency error
  double noiseNs_ = 0;  // the samples' spread about the line, smoothed over updates
  bool haveFreq_ = false;

  // For seeing that the clock follows its rate: the last sample as the clock shows it after any
  // step, what we had done by then, and the estimate from before any run of misses began.
  double lastOffsetNs_ = 0;
  double lastCorrectionNs_ = 0;
  double refFreqPpm_ = 0;
  double refNoiseNs_ = 0;
  bool haveRef_ = false;
  int misses_ = 0;

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
  explicit AdjustmentDither(std::uint64_t increment)
      : increment_(increment), wanted_(static_cast<std::int64_t>(increment << kFractionBits)) {}
  void SetRate(double ppm);
  // The adjustment for the next period.
  std::uint64_t Next();

 private:
  // Fixed point, 32 bits of fraction (increments below 2^31): the carry is exact and cannot drift.
  static constexpr int kFractionBits = 32;
  std::uint64_t increment_;
  std::int64_t wanted_ = 0;
  std::int64_t carry_ = 0;
};

}  // namespace clockagent
