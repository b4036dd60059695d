// A timing packet set against the computer's clock: the one place where a packet becomes a time,
// for the update cycle that sets the clock and for the time daemons that refclock feeds.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "receiver/timing_packets.h"

namespace clockagent {

struct ClockSample {
  std::int64_t systemNs = 0;  // the moment, on the system clock: ns since 1970-01-01 00:00:00 UTC
  std::int64_t offsetNs = 0;  // the receiver's time for that moment less systemNs: positive when
                              // the computer is behind
  std::int64_t monotonicNs = 0;  // the same moment on the monotonic clock
  int rolloverWeeks = 0;         // how far a rolled-over week number was moved forward
  bool atPulse = false;          // the moment is an edge of the receiver's pulse per second
  // For an NMEA burst: the UTC second it names (ns since 1970), which is that of the pulse edge
  // before it; 0 for a packet.
  std::int64_t namedSecondNs = 0;
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

// Why a timing packet's time is not taken. The receiver's own word comes first: a time it says
// it has not set, or was given by hand, or that it cannot yet turn into UTC (the offset unknown:
// flagged, or reported as 0, which GPS-UTC has not been since 1981) is never set, however well it
// converts.
enum class Refusal : std::uint8_t {
  None,
  NotPlaced,    // read too late to say when it came (IsPlaced)
  TimeNotSet,   // kTimeNotSetFlag, or the time of week kNoTimeYet
  UserTime,     // kUserTimeFlag
  NoUtcOffset,  // with UTC: kNoUtcInfoFlag, or an offset of 0
  NotADate,     // outside the week or the calendar, or further off than kLargestOffsetSeconds
  OverLimit,    // a correction larger than the user's limit
  Unconfirmed,  // a correction of kConfirmFromNs or more that no second packet confirmed
  CalendarDisagrees,  // 0x8F-AB's calendar names another second than its week and time of week
  NoValidFix,   // an NMEA receiver's RMC status V or GGA quality 0
};

// The receiver's own word on a packet's time, in the time type in force: None when it vouches
// for it.
Refusal ReceiverRefusal(const TimingFields& fields, TimeType timeType);

// The reason in one line, the same words wherever it is shown ("receiver: its time is not yet
// set", "correction of 5.000 s is larger than the limit of 1 s"); empty for None.
// `correctionSeconds` and `limitSeconds` are read for OverLimit and Unconfirmed.
std::string RefusalText(Refusal refusal, double correctionSeconds = 0,
                        std::int32_t limitSeconds = 0);

// The sample of a timing packet: the moment its first byte began to arrive, and the receiver's
// time for it (moved past week rollovers, times before `earliest`, see CorrectWeekRollover, and
// advanced by the receiver's latency, since it sent the packet `latencyMs` after the moment it
// names). Refusal::None with the sample; otherwise why not, `sample` left alone: a packet that is
// not placed, that its receiver does not vouch for (ReceiverRefusal), or whose time is not a
// date: a time of week outside the week (a garbled packet would pass for another week's time),
// a time outside the calendar, or one further off than kLargestOffsetSeconds.
Refusal SampleOf(const TimingReport& report, int latencyMs, double earliest, ClockSample* sample);

// The receiver's time at a later moment of the monotonic clock, ns since 1970-01-01 00:00:00.
constexpr std::int64_t ReceiverNsAt(const ClockSample& sample, std::int64_t monotonicNs) {
  return sample.systemNs + sample.offsetNs + (monotonicNs - sample.monotonicNs);
}

// DARO frames carry no checksum: a flipped bit or two packets glued into one convert to a
// well-formed wrong time, and the commonest such faults are a whole second (the low bit of a time
// of week, an offset of 17 for 18). A correction of this much or more is made only when a second
// packet of the same attempt agrees with the first to within kConfirmWithinNs, allowing for the
// time between.
constexpr std::int64_t kConfirmFromNs = 500000000;
constexpr std::int64_t kConfirmWithinNs = 100000000;

constexpr bool NeedsConfirming(const ClockSample& sample) {
  return sample.offsetNs >= kConfirmFromNs || sample.offsetNs <= -kConfirmFromNs;
}

// Whether `later` gives the receiver the time `earlier` does, as far as the monotonic clock has
// gone between them: a step of the system clock between the two does not part them.
constexpr bool Confirms(const ClockSample& earlier, const ClockSample& later) {
  const std::int64_t apart =
      ReceiverNsAt(earlier, later.monotonicNs) - (later.systemNs + later.offsetNs);
  return apart <= kConfirmWithinNs && apart >= -kConfirmWithinNs;
}

// Whether a sample's correction is larger than a limit of whole seconds; 0 is no limit.
constexpr bool ExceedsLimit(const ClockSample& sample, std::int32_t limitSeconds) {
  const std::int64_t limitNs = std::int64_t{limitSeconds} * kNsPerSecond;
  return limitSeconds > 0 && (sample.offsetNs > limitNs || sample.offsetNs < -limitNs);
}

// For a clock that is set in steps of `resolutionNs`: reads `clock` without pause until the
// receiver's time is a whole step (within a few microseconds, at most one step from `now`), and
// returns that moment, so that setting the clock to the step drops nothing. A step of a
// microsecond or less is taken as it stands: `now` is returned.
ClockReading AwaitWholeStep(const ClockSample& sample, const ClockReading& now, LinkClock& clock,
                            std::int64_t resolutionNs);

}  // namespace clockagent
