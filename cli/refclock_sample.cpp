// What a time daemon is told of one timing packet.
#include "cli/refclock_sample.h"

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
  // The receiver sent the packet `latencyMs` after the moment it names, and it began to arrive
  // then.
  const double offset =
      receiverTime + latencyMs * 1e-3 - ReceiverTimeOf(report.arrival.systemNs);
  if (!(std::fabs(offset) < kLargestOffsetSeconds)) return false;
  sample->systemNs = report.arrival.systemNs;
  sample->offsetNs = std::llround(offset * 1e9);
  *rolloverWeeks = weeks;
  return true;
}

}  // namespace clockagent
