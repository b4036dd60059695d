// What a time daemon is told of one timing packet.
#include "refclock/refclock_sample.h"

#include <cmath>

#include "update/clock_setting.h"

namespace clockagent {

bool SampleOf(const TimingReport& report, int latencyMs, double earliest, ReferenceSample* sample,
              int* rolloverWeeks) {
  // A time of week beyond the week would pass for a later week's time: a garbled packet.
  const double timeOfWeek = static_cast<double>(report.fields.timeOfWeek);
  if (!(timeOfWeek >= 0.0 && timeOfWeek < kSecondsPerWeek)) return false;
  double receiverTime = report.receiverTime;
  const int weeks = CorrectWeekRollover(&receiverTime, earliest);
  if (!IsUsableReceiverTime(receiverTime)) return false;
  const std::int64_t systemNs = report.arrival.systemNs;
  if (!(std::fabs(receiverTime - ReceiverTimeOf(systemNs)) < kLargestOffsetSeconds)) return false;

  // Whole seconds and their fraction apart, in integers: one double of seconds since 1980 keeps
  // only a quarter of a microsecond. The receiver sent the packet `latencyMs` after the moment
  // it names, and it began to arrive then.
  constexpr std::int64_t kNsPerSecond = 1000000000;
  const double whole = std::floor(receiverTime);
  const std::int64_t receiverNs =
      (static_cast<std::int64_t>(whole) + kGpsEpochDays * 86400) * kNsPerSecond +
      std::llround((receiverTime - whole) * 1e9) + std::int64_t{latencyMs} * 1000000;
  sample->systemNs = systemNs;
  sample->offsetNs = receiverNs - systemNs;
  *rolloverWeeks = weeks;
  return true;
}

}  // namespace clockagent
