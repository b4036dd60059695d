// A timing packet set against the computer's clock.
#include "update/clock_sample.h"

#include <cmath>

#include "update/clock_setting.h"

namespace clockagent {

bool SampleOf(const TimingReport& report, int latencyMs, double earliest, ClockSample* sample) {
  if (!IsPlaced(report)) return false;
  const double timeOfWeek = static_cast<double>(report.fields.timeOfWeek);
  if (!(timeOfWeek >= 0.0 && timeOfWeek < kSecondsPerWeek)) return false;
  double receiverTime = report.receiverTime;
  const int weeks = CorrectWeekRollover(&receiverTime, earliest);
  if (!IsUsableReceiverTime(receiverTime)) return false;
  const std::int64_t systemNs = report.arrival.systemNs;
  if (!(std::fabs(receiverTime - ReceiverTimeOf(systemNs)) < kLargestOffsetSeconds)) return false;

  // Whole seconds and their fraction apart, in integers: one double of seconds since 1980 keeps
  // only a quarter of a microsecond.
  constexpr std::int64_t kNsPerSecond = 1000000000;
  const double whole = std::floor(receiverTime);
  const std::int64_t receiverNs =
      (static_cast<std::int64_t>(whole) + kGpsEpochDays * 86400) * kNsPerSecond +
      std::llround((receiverTime - whole) * 1e9) + std::int64_t{latencyMs} * 1000000;
  sample->systemNs = systemNs;
  sample->offsetNs = receiverNs - systemNs;
  sample->monotonicNs = report.arrival.monotonicNs;
  sample->rolloverWeeks = weeks;
  return true;
}

ClockReading AwaitWholeStep(const ClockSample& sample, const ClockReading& now, LinkClock& clock,
                            std::int64_t resolutionNs) {
  if (resolutionNs <= 1000) return now;
  const std::int64_t past = ReceiverNsAt(sample, now.monotonicNs) % resolutionNs;
  const std::int64_t due = now.monotonicNs + (past == 0 ? 0 : resolutionNs - past);
  ClockReading at = now;
  while (at.monotonicNs < due) at = clock.Now();
  return at;
}

}  // namespace clockagent
