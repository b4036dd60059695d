// The clock's discipline: the estimator and the rate it sets.
#include "update/clock_discipline.h"

#include <algorithm>
#include <cmath>

namespace clockagent {
namespace {

// A sample departs from the line of the others when it is further off than this many of their
// spreads (about one and a half times the median absolute residual each) and than the floor: pulse
// jitter is tens of microseconds, a late packet milliseconds.
constexpr double kOutlierSpreads = 3.5;
constexpr double kOutlierFloorNs = 100000;
// An error in the offset that the clock's not following its rate must exceed, and by how many of
// the fit's spreads.
constexpr double kFollowFloorNs = 200000;
constexpr double kFollowSpreads = 4;
constexpr int kMissesToGiveUp = 3;

constexpr int kMaxPoints = 8;  // the discipline's history

// A least-squares line through some of the points: x in seconds from the newest sample (negative),
// y in ns relative to the newest sample's.
struct Line {
  int n = 0;
  double meanX = 0;
  double sxx = 0;
  double valueNs = 0;  // at x = 0, the newest sample
  double slope = 0;    // ns per second: thousandths of a ppm
  double spreadNs = 0;

  double At(double x) const { return valueNs + slope * x; }
  // How far off a point not in the fit may be and still belong: the floor or the spread (this
  // fit's or the one seen over many, whichever is larger: a few residuals can be small by chance),
  // widened by how uncertain the line is there.
  double Bound(double x, double noiseNs) const {
    const double leverage = sxx > 0 ? 1.0 / n + (x - meanX) * (x - meanX) / sxx : 1.0;
    return std::max(kOutlierFloorNs, kOutlierSpreads * std::max(spreadNs, noiseNs)) *
           std::sqrt(1 + leverage);
  }
};

struct Points {
  double x[kMaxPoints];
  double y[kMaxPoints];
  int n = 0;
  double noiseNs = 0;  // the samples' spread over many updates
};

unsigned Bit(int i) { return 1u << static_cast<unsigned>(i); }

Line Fit(const Points& p, unsigned mask) {
  Line line;
  double sumX = 0;
  double sumY = 0;
  for (int i = 0; i < p.n; ++i) {
    if ((mask & Bit(i)) == 0) continue;
    ++line.n;
    sumX += p.x[i];
    sumY += p.y[i];
  }
  if (line.n == 0) return line;
  line.meanX = sumX / line.n;
  const double meanY = sumY / line.n;
  double sxy = 0;
  for (int i = 0; i < p.n; ++i) {
    if ((mask & Bit(i)) == 0) continue;
    line.sxx += (p.x[i] - line.meanX) * (p.x[i] - line.meanX);
    sxy += (p.x[i] - line.meanX) * (p.y[i] - meanY);
  }
  line.slope = line.sxx > 0 ? sxy / line.sxx : 0;
  line.valueNs = meanY - line.slope * line.meanX;
  if (line.n >= 3) {
    double residuals[kMaxPoints];
    int k = 0;
    for (int i = 0; i < p.n; ++i) {
      if ((mask & Bit(i)) == 0) continue;
      // Insertion sort: a handful of values.
      const double r = std::fabs(p.y[i] - line.At(p.x[i]));
      int j = k++;
      for (; j > 0 && residuals[j - 1] > r; --j) residuals[j] = residuals[j - 1];
      residuals[j] = r;
    }
    const double median = k % 2 ? residuals[k / 2] : (residuals[k / 2 - 1] + residuals[k / 2]) / 2;
    // A line through n points leaves residuals smaller than the samples' own noise.
    line.spreadNs = 1.4826 * median * std::sqrt(static_cast<double>(k) / (k - 2));
  }
  return line;
}

// The line with the one point left out that lies furthest beyond the line of the others, if any
// does; with fewer than four points none can be told from the rest.
Line RobustFit(const Points& p, unsigned mask) {
  int count = 0;
  for (int i = 0; i < p.n; ++i) count += (mask & Bit(i)) != 0;
  if (count < 4) return Fit(p, mask);
  int worst = -1;
  double worstRatio = 1;
  for (int i = 0; i < p.n; ++i) {
    if ((mask & Bit(i)) == 0) continue;
    const Line others = Fit(p, mask & ~Bit(i));
    const double ratio = std::fabs(p.y[i] - others.At(p.x[i])) / others.Bound(p.x[i], p.noiseNs);
    if (ratio > worstRatio) {
      worstRatio = ratio;
      worst = i;
    }
  }
  return Fit(p, worst < 0 ? mask : mask & ~Bit(worst));
}

double Bounded(double ppm) { return std::clamp(ppm, -kLargestRatePpm, kLargestRatePpm); }

}  // namespace

DisciplineAction ClockDiscipline::Update(std::int64_t systemNs, std::int64_t offsetNs,
                                         double intervalSeconds) {
  DisciplineAction action;
  if (notFollowing_) {
    ratePpm_ = 0;
    action.step = true;
    return action;
  }
  intervalSeconds_ = std::max(intervalSeconds, 1.0);
  const std::int64_t timeNs = systemNs + offsetNs;
  if (count_ > 0) {
    Advance(timeNs);
    if (CheckFollowing(timeNs, offsetNs)) {
      notFollowing_ = true;
      ratePpm_ = 0;
      action.step = true;
      return action;
    }
  }
  lastEventNs_ = timeNs;

  const Sample sample{timeNs, static_cast<double>(offsetNs) + correctionNs_};
  if (count_ < kHistory) {
    samples_[static_cast<std::size_t>((start_ + count_) % kHistory)] = sample;
    ++count_;
  } else {
    samples_[static_cast<std::size_t>(start_)] = sample;
    start_ = (start_ + 1) % kHistory;
  }
  const double lineFreeNs = Estimate();

  action.step = offsetNs > kStepThresholdNs || offsetNs < -kStepThresholdNs;
  if (action.step) correctionNs_ += static_cast<double>(offsetNs);
  lastOffsetNs_ = action.step ? 0 : static_cast<double>(offsetNs);
  lastCorrectionNs_ = correctionNs_;

  // The line rather than the sample: one late sample does not pull the clock.
  const double lineOffsetNs = lineFreeNs - correctionNs_;
  ratePpm_ = Bounded(freqPpm_ + lineOffsetNs / (intervalSeconds_ * 1000));
  action.ratePpm = ratePpm_;

  if (misses_ == 0 && haveFreq_) {
    refFreqPpm_ = freqPpm_;
    refNoiseNs_ = noiseNs_;
    haveRef_ = true;
  }
  return action;
}

void ClockDiscipline::Advance(std::int64_t untilNs) {
  correctionNs_ += ratePpm_ * static_cast<double>(untilNs - lastEventNs_) * 1e-6;
  lastEventNs_ = untilNs;
}

double ClockDiscipline::Estimate() {
  static_assert(kHistory <= kMaxPoints, "the fit takes the whole history");
  Points p;
  p.noiseNs = noiseNs_;
  auto load = [&] {
    p.n = count_;
    const Sample& newest = samples_[static_cast<std::size_t>((start_ + count_ - 1) % kHistory)];
    for (int i = 0; i < count_; ++i) {
      const Sample& s = samples_[static_cast<std::size_t>((start_ + i) % kHistory)];
      p.x[i] = static_cast<double>(s.timeNs - newest.timeNs) * 1e-9;
      p.y[i] = s.freeNs - newest.freeNs;
    }
    return newest.freeNs;
  };
  double newestFreeNs = load();
  // The newest two both off the line of the older ones, the same way: not two late samples but a
  // clock whose frequency has changed, and the older samples describe a clock that is gone. The
  // change may have begun a sample earlier, that one only partly off and already taken into the
  // line: the newest three are tried first.
  for (int newer = 3; newer >= 2; --newer) {
    if (count_ - newer < 2) continue;
    const Line older = RobustFit(p, (1u << static_cast<unsigned>(count_ - newer)) - 1);
    int side = 0;
    bool changed = true;
    for (int i = count_ - newer; i < count_ && changed; ++i) {
      const double d = p.y[i] - older.At(p.x[i]);
      const double bound = older.Bound(p.x[i], p.noiseNs) * (i >= count_ - 2 ? 1 : 0.5);
      changed = std::fabs(d) > bound && (side == 0 || (d > 0) == (side > 0));
      side = d > 0 ? 1 : -1;
    }
    if (changed) {
      start_ = (start_ + count_ - newer) % kHistory;
      count_ = newer;
      newestFreeNs = load();
      break;
    }
  }
  if (count_ < 2) return newestFreeNs;
  const Line line = RobustFit(p, (1u << static_cast<unsigned>(count_)) - 1);
  freqPpm_ = line.slope / 1000;
  if (line.n >= 4) {
    const double spread = line.spreadNs;
    noiseNs_ = noiseNs_ > 0 ? std::sqrt(0.9 * noiseNs_ * noiseNs_ + 0.1 * spread * spread) : spread;
  }
  haveFreq_ = true;
  return newestFreeNs + line.valueNs;
}

bool ClockDiscipline::CheckFollowing(std::int64_t timeNs, std::int64_t offsetNs) {
  if (!haveRef_) return false;
  const Sample& newest = samples_[static_cast<std::size_t>((start_ + count_ - 1) % kHistory)];
  const double dtNs = static_cast<double>(timeNs - newest.timeNs);
  // What the rates set since the last sample should have done to the offset, and the offset the
  // estimate from before any misses predicts with them.
  const double appliedNs = correctionNs_ - lastCorrectionNs_;
  const double predictedNs = lastOffsetNs_ + refFreqPpm_ * dtNs * 1e-6 - appliedNs;
  const double errorNs = static_cast<double>(offsetNs) - predictedNs;
  const double floorNs = std::max(kFollowFloorNs, kFollowSpreads * refNoiseNs_);
  // Off the way the rate not having acted would put it, by at least half its effect.
  const bool miss = std::fabs(appliedNs) > floorNs && errorNs * appliedNs > 0 &&
                    std::fabs(errorNs) > 0.5 * std::fabs(appliedNs) && std::fabs(errorNs) > floorNs;
  misses_ = miss ? misses_ + 1 : 0;
  return misses_ >= kMissesToGiveUp;
}

double ClockDiscipline::Holdover() {
  if (notFollowing_) return ratePpm_ = 0;
  if (count_ > 0) {
    Advance(lastEventNs_ + static_cast<std::int64_t>(intervalSeconds_ * 1e9));
  }
  ratePpm_ = Bounded(freqPpm_);
  return ratePpm_;
}

void ClockDiscipline::Reset() { *this = ClockDiscipline(); }

void AdjustmentDither::SetRate(double ppm) {
  const double wanted = static_cast<double>(increment_) * (1 + ppm * 1e-6);
  const double one = static_cast<double>(std::int64_t{1} << kFractionBits);
  wanted_ = std::llround(std::max(wanted, 0.0) * one);
}

std::uint64_t AdjustmentDither::Next() {
  // Rounded to the nearest whole unit; what that left out goes into the next period.
  const std::int64_t value = wanted_ + carry_;
  const std::int64_t half = std::int64_t{1} << (kFractionBits - 1);
  const std::int64_t whole = (value + half) >> kFractionBits;
  carry_ = value - (whole << kFractionBits);
  return static_cast<std::uint64_t>(whole);
}

}  // namespace clockagent
