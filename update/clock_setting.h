// From receiver time to the system clock, and the time-of-week display.
#pragma once

#include <cstddef>
#include <cstdint>

#include "receiver/link_clock.h"
#include "receiver/timing_packets.h"
#include "update/calendar.h"
#include "update/clock_setter.h"
#include "update/update_outcome.h"
#include "version.h"

namespace clockagent {

// Receiver time: seconds since the GPS epoch, 1980-01-06 00:00:00, as a double.
constexpr double kSecondsPerDay = 86400.0;

// The calendar reaches to the end of year 9999; this is the first receiver time beyond it. It
// covers every week number a packet can carry (65535 weeks end in 3236) with room to spare.
constexpr double kReceiverTimeLimit =
    static_cast<double>(DaysFromCivil(10000, 1, 1) - kGpsEpochDays) * kSecondsPerDay;

// True for a receiver time greater than 0 and within the calendar; false for NaN.
bool IsUsableReceiverTime(double receiverTime);

// Receivers that count the week in 10 bits, or roll over on a fixed date, report times 1024 weeks
// (or a multiple) in the past. Nothing this program sets the clock from can lie before the day it
// was released.
constexpr double kWeekRolloverSeconds = 1024 * kSecondsPerWeek;
constexpr double kReleaseReceiverTime =
    static_cast<double>(DaysFromCivil(kReleaseYear, kReleaseMonth, kReleaseDay) - kGpsEpochDays) *
    kSecondsPerDay;

// Moves a usable receiver time that lies before `earliest` forward by the fewest whole 1024-week
// periods that bring it on or after `earliest`, and returns the weeks it moved it (0, 1024, 2048,
// ...). Any other time is left as it is, however far in the future.
int CorrectWeekRollover(double* receiverTime, double earliest);

// The UTC calendar time that the clock is set to for `receiverTime`, to the nearest microsecond
// (its milliseconds, and the microseconds within them): a whole second never comes out as a
// moment before it, and no fraction is carried into the next second. False, leaving `out` alone, for a time that is not usable.
bool ReceiverTimeToSystemTime(double receiverTime, SystemTime* out);

// The receiver time of a moment given in nanoseconds since 1970-01-01 00:00:00 (of the system
// clock, or of a receiver's time on its scale). Divided, not multiplied by a rounded 1e-9, so
// that a whole second stays whole.
constexpr double ReceiverTimeOf(std::int64_t systemNs) {
  return static_cast<double>(systemNs - kGpsEpochDays * 86400 * kNsPerSecond) / 1e9;
}

// Seconds since 1970-01-01 00:00:00 UTC of a calendar time. False for a record that is not a valid
// time from 1970 to 9999.
bool SystemTimeToUnixSeconds(const SystemTime& time, std::int64_t* seconds);

// "YYYY-MM-DDTHH:MM:SSZ", or with the milliseconds "YYYY-MM-DDTHH:MM:SS.mmmZ".
constexpr std::size_t kIsoTimeTextSize = 32;
void FormatIsoTime(const SystemTime& time, char (&text)[kIsoTimeTextSize]);
void FormatIsoTimeMs(const SystemTime& time, char (&text)[kIsoTimeTextSize]);
// "YYYY-MM-DDTHH:MM:SS[.fff][Z]", the texts above among them, as seconds since 1970; false for
// any other text, or a time SystemTimeToUnixSeconds does not take.
bool ParseIsoTime(const char* text, double* unixTime);

// Sets the clock from a receiver time. True when the platform accepted the new time; false also
// for a time outside the calendar.
bool SetClockFromReceiverTime(double receiverTime, ClockSetter& clock);

// The outcome of an attempt that received a time: for a usable time, the clock is asked to take
// it (`*asked` gets the calendar time) and the outcome is Success or SystemUpdateFailure as the
// platform answered; any other time is a BadTime and the clock is left alone.
UpdateOutcome ApplyReceiverTime(double receiverTime, ClockSetter& clock, SystemTime* asked);

extern const char* const WeekdayNames[7];

// The time of week the window shows for a timing packet: with the time type UTC the packet's time
// of week less its GPS-UTC offset, the time the clock was set to; with GPS the time of week as the
// packet carries it. A receiver without a time yet shows as such in both.
float ShownTimeOfWeek(const TimingFields& fields, TimeType timeType);

// The time-of-week display: " Wed 13:05:07.50", or "<No time yet>" for -1, or "<Bad time>" for a
// time outside one week.
constexpr std::size_t kTimeOfWeekTextSize = 32;
void FormatTimeOfWeek(float timeOfWeek, char (&text)[kTimeOfWeekTextSize]);

}  // namespace clockagent
