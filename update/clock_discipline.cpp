// The clock's discipline: the estimator and the rate it sets.
#include "update/clock_discipline.h"

namespace clockagent {

DisciplineAction ClockDiscipline::Update(std::int64_t systemNs, std::int64_t offsetNs,
                                         double intervalSeconds) {
  static_cast<void>(systemNs);
  static_cast<void>(intervalSeconds);
  DisciplineAction action;
  action.step = offsetNs > kStepThresholdNs || offsetNs < -kStepThresholdNs;
  action.ratePpm = ratePpm_;
  return action;
}

double ClockDiscipline::Holdover() { return ratePpm_; }

void ClockDiscipline::Reset() {
  ratePpm_ = 0;
  notFollowing_ = false;
}

void AdjustmentDither::SetRate(double ppm) {
  wanted_ = static_cast<double>(increment_) * (1 + ppm * 1e-6);
}

std::uint64_t AdjustmentDither::Next() {
  const double value = wanted_ + carry_;
  const auto next = static_cast<std::uint64_t>(value + 0.5);
  carry_ = value - static_cast<double>(next);
  return next;
}

}  // namespace clockagent
