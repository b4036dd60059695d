// A timing packet set against the computer's clock: the one place where a packet becomes a time,
// for the update cycle that sets the clock and for the time daemons that refclock feeds.
#pragma once

#include <chrono>
#include <cstdint>

#include "receiver/timing_packets.h"

namespace clockagent {

struct ClockSample {
  std::int64_t systemNs = 0;  // the moment, on the system clock: ns since 1970-01-01 00:00:00 UTC
  std::int64_t offsetNs = 0;  // the receiver's time for that moment less systemNs: positive when
                              // the computer is behind
  std::int64_t monotonicNs = 0;  // the same moment on the monotonic clock
  int rolloverWeeks = 0;         // how far a rolled-over week number was moved forward
  bool atPulse = false;          // the moment is an edge of the receiver's pulse per second
};

// A time further from the computer's clock than this is no receiver's: no daemon maps a time more
// than NTP's 32-bit era of seconds away, and it keeps every nanosecond count well inside 64 bits.
constexpr double kLargestOffsetSeconds = 4294967296.0;

// The most a packet's first byte may have begun to arrive before its stamp: a packet placed no
// better (read late, its process held up while it came) times nothing. Loops look at the port at
// least every kLookInterval while a packet may begin, so that a packet read on time is placed to
// that and a little more.
constexpr std::int64_t kLargestArrivalSlackNs = 5000000;
constexpr std::chrono::milliseconds kLookInterval{2};

constexpr bool IsPlaced(const TimingReport& report) {
  return report.arrivalSlackNs <= kLargestArrivalSlackNs;
}

// The sample of a timing packet: the moment its first byte began to arrive, and the receiver's
// time for it (moved past week rollovers, times before `earliest`, see CorrectWeekRollover, and
// advanced by the receiver's latency, since it sent the packet `latencyMs` after the moment it
// names). False, leaving `sample` alone, for a packet that is not placed (IsPlaced) or whose time
// is not usable: no time yet, a
// time of week outside the week (a garbled packet would pass for another week's time), a time
// outside the calendar, or one further off than kLargestOffsetSeconds.
bool SampleOf(const TimingReport& report, int latencyMs, double earliest, ClockSample* sample);

// The receiver's time at a later moment of the monotonic clock, ns since 1970-01-01 00:00:00.
constexpr std::int64_t ReceiverNsAt(const ClockSample& sample, std::int64_t monotonicNs) {
  return sample.systemNs + sample.offsetNs + (monotonicNs - sample.monotonicNs);
}

// For a clock that is set in steps of `resolutionNs`: reads `clock` without pause until the
// receiver's time is a whole step (within a few microseconds, at most one step from `now`), and
// returns that moment, so that setting the clock to the step drops nothing. A step of a
// microsecond or less is taken as it stands: `now` is returned.
ClockReading AwaitWholeStep(const ClockSample& sample, const ClockReading& now, LinkClock& clock,
                            std::int64_t resolutionNs);

}  // namespace clockagent
