// A timing packet set against the computer's clock.
#include "update/clock_sample.h"

#include <cmath>
#include <cstdio>

#include "update/clock_setting.h"

namespace clockagent {

Refusal ReceiverRefusal(const TimingFields& fields, TimeType timeType) {
  if ((fields.flags & kTimeNotSetFlag) != 0 || fields.timeOfWeek == kNoTimeYet) {
    return Refusal::TimeNotSet;
  }
  if ((fields.flags & kUserTimeFlag) != 0) return Refusal::UserTime;
  const bool offsetUnknown = (fields.flags & kNoUtcInfoFlag) != 0 || fields.utcOffset == 0;
  if (timeType == TimeType::Utc && offsetUnknown) return Refusal::NoUtcOffset;
  return Refusal::None;
}

std::string RefusalText(Refusal refusal, double correctionSeconds, std::int32_t limitSeconds) {
  char text[96];
  switch (refusal) {
    case Refusal::None: return "";
    case Refusal::NotPlaced: return "the packet was read too late to say when it came";
    case Refusal::TimeNotSet: return "receiver: its time is not yet set";
    case Refusal::UserTime: return "receiver: its time was entered by hand, not taken from GPS";
    case Refusal::NoUtcOffset: return "receiver: it does not yet know the GPS-UTC offset";
    case Refusal::NotADate: return "receiver: its time is not a date";
    case Refusal::CalendarDisagrees: return "receiver: its calendar and its week disagree";
    case Refusal::NoValidFix: return "receiver: it reports no valid fix";
    case Refusal::OverLimit:
      std::snprintf(text, sizeof text, "correction of %.3f s is larger than the limit of %d s",
                    std::fabs(correctionSeconds), static_cast<int>(limitSeconds));
      return text;
    case Refusal::Unconfirmed:
      std::snprintf(text, sizeof text,
                    "correction of %.3f s was not confirmed by a second timing packet",
                    std::fabs(correctionSeconds));
      return text;
  }
  return "";
}

namespace {

// 0x8F-AB carries the same second twice: as week and time of week, and as a calendar date and
// time (GPS, or UTC by its flags). A bit garbled in one shows as a disagreement, even when every
// packet carries it the same; all zeros is a receiver that does not fill the calendar in. Either
// the week as sent or as moved past its rollovers (`movedSeconds` later) may agree.
bool CalendarAgrees(const TimingReport& report, double movedSeconds) {
  const PacketCalendar& c = report.calendar;
  if (c.second == 0 && c.minute == 0 && c.hour == 0 && c.day == 0 && c.month == 0 && c.year == 0) {
    return true;
  }
  if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31) return false;
  const bool utc = (report.fields.flags & kUtcCalendarFlag) != 0;
  const double calendar =
      static_cast<double>((DaysFromCivil(c.year, c.month, c.day) - kGpsEpochDays) * 86400 +
                          c.hour * 3600 + c.minute * 60 + c.second) +
      (utc ? static_cast<double>(report.fields.utcOffset) : 0.0);
  const double packet = report.fields.week * kSecondsPerWeek +
                        std::floor(static_cast<double>(report.fields.timeOfWeek));
  return calendar == packet || calendar == packet + movedSeconds;
}

}  // namespace

Refusal SampleOf(const TimingReport& report, int latencyMs, double earliest, ClockSample* sample) {
  if (!IsPlaced(report)) return Refusal::NotPlaced;
  const bool nmea = report.packet == TimingPacket::Nmea;
  // An NMEA burst names a UTC second: it has no flags and no GPS-UTC offset to vouch for.
  const Refusal word = nmea ? (report.validFix ? Refusal::None : Refusal::NoValidFix)
                            : ReceiverRefusal(report.fields, report.timeType);
  if (word != Refusal::None) return word;
  const double timeOfWeek = static_cast<double>(report.fields.timeOfWeek);
  if (!(timeOfWeek >= 0.0 && timeOfWeek < kSecondsPerWeek)) return Refusal::NotADate;
  double receiverTime = report.receiverTime;
  const int weeks = CorrectWeekRollover(&receiverTime, earliest);
  if (!IsUsableReceiverTime(receiverTime)) return Refusal::NotADate;
  if (!CalendarAgrees(report, receiverTime - report.receiverTime)) {
    return Refusal::CalendarDisagrees;
  }
  const std::int64_t systemNs = report.arrival.systemNs;
  if (!(std::fabs(receiverTime - ReceiverTimeOf(systemNs)) < kLargestOffsetSeconds)) {
    return Refusal::NotADate;
  }

  // Whole seconds and their fraction apart, in integers: one double of seconds since 1980 keeps
  // only a quarter of a microsecond.
  const double whole = std::floor(receiverTime);
  const std::int64_t receiverNs =
      (static_cast<std::int64_t>(whole) + kGpsEpochDays * 86400) * kNsPerSecond +
      std::llround((receiverTime - whole) * 1e9) + std::int64_t{latencyMs} * 1000000;
  sample->systemNs = systemNs;
  sample->offsetNs = receiverNs - systemNs;
  sample->monotonicNs = report.arrival.monotonicNs;
  sample->rolloverWeeks = weeks;
  sample->namedSecondNs = nmea ? receiverNs - std::int64_t{latencyMs} * 1000000 : 0;
  return Refusal::None;
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
