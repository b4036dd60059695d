// What a time daemon is told of one timing packet: the moment it began to arrive on the system
// clock, and how far the receiver's time for that moment lies from it.
#pragma once

#include <cstdint>

#include "receiver/timing_packets.h"

namespace clockagent {

struct ReferenceSample {
  std::int64_t systemNs = 0;  // the system clock, nanoseconds since 1970-01-01 00:00:00 UTC
  std::int64_t offsetNs = 0;  // the receiver's time less the system clock: positive when behind
};

// A sample further off than this is refused: no daemon maps a time more than NTP's 32-bit era of
// seconds away, and it keeps every nanosecond count well inside 64 bits.
constexpr double kLargestOffsetSeconds = 4294967296.0;

// The sample of an accepted timing packet: its receiver time moved past week rollovers (times
// before `earliest`, see CorrectWeekRollover), advanced by the receiver's latency, and set against
// the system clock at the packet's arrival. False for a packet whose time is missing or bad: no
// time yet, a time of week outside the week, a time outside the calendar, or one further off
// than kLargestOffsetSeconds. `rolloverWeeks` gets the weeks the time was moved forward.
bool SampleOf(const TimingReport& report, int latencyMs, double earliest, ReferenceSample* sample,
              int* rolloverWeeks);

}  // namespace clockagent
