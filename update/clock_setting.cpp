// From receiver time to the system clock, and the time-of-week display.
#include "update/clock_setting.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace clockagent {

const char* const WeekdayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

bool IsUsableReceiverTime(double receiverTime) {
  return receiverTime > 0.0 && receiverTime < kReceiverTimeLimit;  // false for NaN
}

int CorrectWeekRollover(double* receiverTime, double earliest) {
  const double t = *receiverTime;
  if (!IsUsableReceiverTime(t) || !(t < earliest)) return 0;
  auto periods = static_cast<int>(std::ceil((earliest - t) / kWeekRolloverSeconds));
  if (t + periods * kWeekRolloverSeconds < earliest) ++periods;  // a quotient rounded down
  *receiverTime = t + periods * kWeekRolloverSeconds;
  return periods * 1024;
}

bool ReceiverTimeToSystemTime(double receiverTime, SystemTime* out) {
  if (!IsUsableReceiverTime(receiverTime)) return false;

  // Whole seconds first, split exactly in integers: a whole day or hour can never come out as the
  // second before it, as a rounded floating-point quotient could make it. Then the fraction, to
  // the nearest microsecond (a double of seconds since 1980 holds a quarter of one), so that a
  // decimal fraction that a double holds a hair low (.001 is 0.000999...) keeps its millisecond;
  // never carried into the next second.
  const double whole = std::floor(receiverTime);
  const auto seconds = static_cast<std::int64_t>(whole);
  const double microseconds = std::min(999999.0, std::floor((receiverTime - whole) * 1e6 + 0.5));
  const double milliseconds = std::floor(microseconds / 1000.0);
  const std::int64_t days = seconds / 86400;
  const auto secondOfDay = static_cast<unsigned>(seconds % 86400);
  const CivilDate date = CivilFromDays(kGpsEpochDays + days);

  SystemTime time;
  time.wYear = static_cast<std::uint16_t>(date.year);
  time.wMonth = static_cast<std::uint16_t>(date.month);
  time.wDay = static_cast<std::uint16_t>(date.day);
  time.wHour = static_cast<std::uint16_t>(secondOfDay / 3600);
  time.wMinute = static_cast<std::uint16_t>(secondOfDay % 3600 / 60);
  time.wSecond = static_cast<std::uint16_t>(secondOfDay % 60);
  time.wMilliseconds = static_cast<std::uint16_t>(milliseconds);
  time.microseconds = static_cast<std::uint16_t>(microseconds - milliseconds * 1000.0);
  *out = time;
  return true;
}

bool SystemTimeToUnixSeconds(const SystemTime& time, std::int64_t* seconds) {
  if (time.wYear < 1970 || time.wYear > 9999 || time.wMonth < 1 || time.wMonth > 12 ||
      time.wDay < 1 || time.wDay > DaysInMonth(time.wYear, time.wMonth) || time.wHour > 23 ||
      time.wMinute > 59 || time.wSecond > 59 || time.wMilliseconds > 999) {
    return false;
  }
  *seconds = DaysFromCivil(time.wYear, time.wMonth, time.wDay) * 86400 + time.wHour * 3600 +
             time.wMinute * 60 + time.wSecond;
  return true;
}

void FormatIsoTimeMs(const SystemTime& time, char (&text)[kIsoTimeTextSize]) {
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", time.wYear % 10000u,
                time.wMonth % 100u, time.wDay % 100u, time.wHour % 100u, time.wMinute % 100u,
                time.wSecond % 100u, time.wMilliseconds % 1000u);
}

bool ParseIsoTime(const char* text, double* unixTime) {
  unsigned year, month, day, hour, minute, second;
  int used = 0;
  if (std::sscanf(text, "%4u-%2u-%2uT%2u:%2u:%2u%n", &year, &month, &day, &hour, &minute, &second,
                  &used) != 6) {
    return false;
  }
  double fraction = 0;
  const char* rest = text + used;
  if (*rest == '.') {
    char* end = nullptr;
    fraction = std::strtod(rest, &end);
    if (end == rest + 1) return false;
    rest = end;
  }
  if (*rest == 'Z') ++rest;
  if (*rest != '\0') return false;
  SystemTime t;
  t.wYear = static_cast<std::uint16_t>(year);
  t.wMonth = static_cast<std::uint16_t>(month);
  t.wDay = static_cast<std::uint16_t>(day);
  t.wHour = static_cast<std::uint16_t>(hour);
  t.wMinute = static_cast<std::uint16_t>(minute);
  t.wSecond = static_cast<std::uint16_t>(second);
  std::int64_t seconds = 0;
  if (!SystemTimeToUnixSeconds(t, &seconds)) return false;
  *unixTime = static_cast<double>(seconds) + fraction;
  return true;
}

void FormatIsoTime(const SystemTime& time, char (&text)[kIsoTimeTextSize]) {
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear % 10000u,
                time.wMonth % 100u, time.wDay % 100u, time.wHour % 100u, time.wMinute % 100u,
                time.wSecond % 100u);
}

bool SetClockFromReceiverTime(double receiverTime, ClockSetter& clock) {
  SystemTime time;
  if (!ReceiverTimeToSystemTime(receiverTime, &time)) return false;
  return clock.Set(time);
}

UpdateOutcome ApplyReceiverTime(double receiverTime, ClockSetter& clock, SystemTime* asked) {
  if (!ReceiverTimeToSystemTime(receiverTime, asked)) return UpdateOutcome::BadTime;
  return clock.Set(*asked) ? UpdateOutcome::Success : UpdateOutcome::SystemUpdateFailure;
}

float ShownTimeOfWeek(const TimingFields& fields, TimeType timeType) {
  if (timeType == TimeType::Gps || fields.timeOfWeek == kNoTimeYet) return fields.timeOfWeek;
  return static_cast<float>(static_cast<double>(fields.timeOfWeek) -
                            static_cast<double>(fields.utcOffset));
}

void FormatTimeOfWeek(float timeOfWeek, char (&text)[kTimeOfWeekTextSize]) {
  constexpr auto kWeek = static_cast<float>(kSecondsPerWeek);
  float x = timeOfWeek;
  if (x == kNoTimeYet) {
    std::snprintf(text, sizeof text, "%s", "<No time yet>");
    return;
  }
  if (x == 0.0f) x = 0.0f;  // -0 shows as 0
  if (x < 0.0f) x = static_cast<float>(x + kWeek);
  if (!(x >= 0.0f && x < kWeek)) {
    std::snprintf(text, sizeof text, "%s", "<Bad time>");
    return;
  }
  const double d = x;
  const int day = static_cast<int>(std::floor(d / 86400.0));
  const int hour = static_cast<int>(std::fmod(std::floor(d / 3600.0), 24.0));
  const int minute = static_cast<int>(std::fmod(std::floor(d / 60.0), 60.0));
  // Hundredths truncated like every other field, so that 59.996 s is 59.99 and never a 60th
  // second; the allowance keeps a single that lies a hair below its decimal (13.29 is
  // 13.2899999...) on it.
  const int hundredths =
      static_cast<int>(std::min(5999.0, std::floor(std::fmod(d, 60.0) * 100.0 + 0.01)));
  std::snprintf(text, sizeof text, " %s %02d:%02d:%02d.%02d", WeekdayNames[day], hour, minute,
                hundredths / 100, hundredths % 100);
}

}  // namespace clockagent
