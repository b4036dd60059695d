// Receiver time to calendar time, the outcome of applying it, and the time-of-week display.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/test_support.h"
#include "update/windows_time.h"

namespace clockagent::test {
namespace {

// To the millisecond: "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string CalendarOf(double receiverTime) {
  SystemTime time;
  if (!ReceiverTimeToSystemTime(receiverTime, &time)) return "bad";
  char text[kIsoTimeTextSize];
  FormatIsoTimeMs(time, text);
  return text;
}

TEST(ReceiverTimeToCalendar, FixedDates) {
  EXPECT_EQ(CalendarOf(1), "1980-01-06T00:00:01.000Z");
  EXPECT_EQ(CalendarOf(725760000), "2003-01-05T00:00:00.000Z");
  EXPECT_EQ(CalendarOf(725759987), "2003-01-04T23:59:47.000Z");
  EXPECT_EQ(CalendarOf(762091200), "2004-02-29T12:00:00.000Z");
  EXPECT_EQ(CalendarOf(1009411199), "2011-12-31T23:59:59.000Z");
  EXPECT_EQ(CalendarOf(1009411200), "2012-01-01T00:00:00.000Z");
}

TEST(ReceiverTimeToCalendar, TheFractionIsKeptToTheMillisecondAndNeverCarried) {
  const struct {
    double receiverTime;
    const char* calendar;
  } cases[] = {
      {725760000.75, "2003-01-05T00:00:00.750Z"},
      {0.5, "1980-01-06T00:00:00.500Z"},
      {725760000.001, "2003-01-05T00:00:00.001Z"},    // held a hair below .001
      {725760000.0019, "2003-01-05T00:00:00.001Z"},   // truncated, not rounded
      {725759999.9999, "2003-01-04T23:59:59.999Z"},   // not the next second
      {std::nextafter(725760000.0, 0.0), "2003-01-04T23:59:59.999Z"},
      {1480723200 + 1 / 64.0, "2026-12-08T00:00:00.015Z"},  // a single's step in mid-week
  };
  for (const auto& c : cases) EXPECT_EQ(CalendarOf(c.receiverTime), c.calendar) << c.receiverTime;
}

TEST(ReceiverTimeToCalendar, FullGregorianRuleBeyond2011) {
  // 2000 is a leap year, 2100 is not, 2400 is.
  const double day = 86400;
  const double feb28of2100 = (DaysFromCivil(2100, 2, 28) - kGpsEpochDays) * day;
  EXPECT_EQ(CalendarOf(feb28of2100 + day), "2100-03-01T00:00:00.000Z");
  const double feb28of2400 = (DaysFromCivil(2400, 2, 28) - kGpsEpochDays) * day;
  EXPECT_EQ(CalendarOf(feb28of2400 + day), "2400-02-29T00:00:00.000Z");
  EXPECT_EQ(CalendarOf(2400 * 604800.0 + 18), "2026-01-04T00:00:18.000Z");
}

TEST(ReceiverTimeToCalendar, WholeDaysAndHoursNeverComeOutAsTheSecondBefore) {
  for (double k = 1; k < 2.9e6; k = std::floor(k * 1.37) + 1) {
    const double t = k * 3600;
    SystemTime at, before;
    ASSERT_TRUE(ReceiverTimeToSystemTime(t, &at));
    ASSERT_TRUE(ReceiverTimeToSystemTime(std::nextafter(t, 0.0), &before));
    EXPECT_EQ(at.wMinute, 0);
    EXPECT_EQ(at.wSecond, 0);
    EXPECT_EQ(at.wHour, static_cast<unsigned>(std::fmod(k, 24)));
    EXPECT_EQ(before.wMinute, 59) << t;
    EXPECT_EQ(before.wSecond, 59) << t;
    EXPECT_EQ(before.wHour, (at.wHour + 23) % 24) << t;
    if (at.wHour == 0) {
      EXPECT_NE(before.wDay, at.wDay) << t;
    }
  }
}

TEST(ReceiverTimeToCalendar, UnusableTimesAreRefused) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double t : {0.0, -0.0, -1.0, -1e300, std::nan(""), inf, -inf, 3.4e38, kReceiverTimeLimit,
                   std::numeric_limits<double>::max()}) {
    SystemTime time;
    time.wYear = 77;
    EXPECT_FALSE(ReceiverTimeToSystemTime(t, &time)) << t;
    EXPECT_EQ(time.wYear, 77) << "left alone for " << t;
    EXPECT_FALSE(IsUsableReceiverTime(t)) << t;
  }
  EXPECT_EQ(CalendarOf(std::nextafter(kReceiverTimeLimit, 0.0)).substr(0, 19), "9999-12-31T23:59:59");
}

TEST(ApplyReceiverTime, DecidesTheOutcome) {
  DryRunClockSetter clock;
  RefusingClock refusing;
  SystemTime asked;
  EXPECT_EQ(ApplyReceiverTime(725760000, clock, &asked), UpdateOutcome::Success);
  EXPECT_EQ(Iso(clock.last), "2003-01-05T00:00:00Z");
  EXPECT_EQ(Iso(asked), "2003-01-05T00:00:00Z");
  EXPECT_EQ(ApplyReceiverTime(725760001, refusing, &asked), UpdateOutcome::SystemUpdateFailure);
  EXPECT_EQ(Iso(asked), "2003-01-05T00:00:01Z");
  EXPECT_EQ(refusing.calls, 1);
  for (double bad : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e20}) {
    EXPECT_EQ(ApplyReceiverTime(bad, clock, &asked), UpdateOutcome::BadTime) << bad;
    EXPECT_EQ(ApplyReceiverTime(bad, refusing, &asked), UpdateOutcome::BadTime) << bad;
  }
  EXPECT_EQ(clock.calls, 1);
  EXPECT_EQ(refusing.calls, 1);
}

TEST(SetClockFromReceiverTime, ReportsWhatThePlatformSaid) {
  DryRunClockSetter clock;
  RefusingClock refusing;
  EXPECT_TRUE(SetClockFromReceiverTime(762091200, clock));
  EXPECT_EQ(Iso(clock.last), "2004-02-29T12:00:00Z");
  EXPECT_FALSE(SetClockFromReceiverTime(762091200, refusing));
  EXPECT_FALSE(SetClockFromReceiverTime(-5, clock));
  EXPECT_EQ(clock.calls, 1);
}

TEST(UpdateOutcomes, StatusTextsAndIcons) {
  EXPECT_STREQ(StatusText(UpdateOutcome::Success), "Success");
  EXPECT_STREQ(StatusText(UpdateOutcome::ComFailure), "Error - COM Failure");
  EXPECT_STREQ(StatusText(UpdateOutcome::DaroFailure), "Error - DARO Failure");
  EXPECT_STREQ(StatusText(UpdateOutcome::SystemUpdateFailure), "Error - System Update");
  EXPECT_STREQ(StatusText(UpdateOutcome::BadTime), "Error - Bad Time");
  EXPECT_EQ(IconStateAfter(UpdateOutcome::Success), TrayIconState::SleepingOk);
  for (auto failure : {UpdateOutcome::ComFailure, UpdateOutcome::DaroFailure,
                       UpdateOutcome::SystemUpdateFailure, UpdateOutcome::BadTime}) {
    EXPECT_EQ(IconStateAfter(failure), TrayIconState::SleepingFailed);
  }
}

TEST(SystemTimeToUnixSeconds, ValidRecordsOnly) {
  std::int64_t seconds = 0;
  SystemTime t;
  t.wYear = 1980, t.wMonth = 1, t.wDay = 6;
  ASSERT_TRUE(SystemTimeToUnixSeconds(t, &seconds));
  EXPECT_EQ(seconds, 315964800);
  t.wYear = 2000, t.wMonth = 2, t.wDay = 29, t.wHour = 23, t.wMinute = 59, t.wSecond = 59;
  ASSERT_TRUE(SystemTimeToUnixSeconds(t, &seconds));
  EXPECT_EQ(seconds, 951868799);

  const auto invalid = [](std::uint16_t y, std::uint16_t mo, std::uint16_t d, std::uint16_t h,
                          std::uint16_t mi, std::uint16_t s) {
    SystemTime r;
    r.wYear = y, r.wMonth = mo, r.wDay = d, r.wHour = h, r.wMinute = mi, r.wSecond = s;
    std::int64_t unused;
    return !SystemTimeToUnixSeconds(r, &unused);
  };
  EXPECT_TRUE(invalid(2100, 2, 29, 0, 0, 0));
  EXPECT_TRUE(invalid(2023, 13, 1, 0, 0, 0));
  EXPECT_TRUE(invalid(2023, 0, 1, 0, 0, 0));
  EXPECT_TRUE(invalid(2023, 4, 31, 0, 0, 0));
  EXPECT_TRUE(invalid(2023, 4, 0, 0, 0, 0));
  EXPECT_TRUE(invalid(2023, 4, 1, 24, 0, 0));
  EXPECT_TRUE(invalid(2023, 4, 1, 0, 60, 0));
  EXPECT_TRUE(invalid(2023, 4, 1, 0, 0, 60));
  EXPECT_TRUE(invalid(1969, 12, 31, 23, 59, 59));
}

TEST(WeekRollover, MovesEarlierTimesForwardByWholePeriodsOf1024Weeks) {
  constexpr double kWeek = 604800;
  constexpr double kRelease = kReleaseReceiverTime;
  static_assert(kRelease == 1480723200.0, "2026-12-08 00:00:00, 2448 weeks and 2 days in");
  const double kEarlier = 1200 * kWeek;  // a test's own release day: 2003-01-05
  const struct {
    double received;
    double earliest;
    int weeks;
  } cases[] = {
      {kRelease - 1, kRelease, 1024},
      {kRelease, kRelease, 0},
      {kRelease + 0.5, kRelease, 0},
      {kRelease - 1024 * kWeek, kRelease, 1024},
      {kRelease - 1024 * kWeek - 0.001, kRelease, 2048},
      {kRelease - 2048 * kWeek, kRelease, 2048},
      {1, kRelease, 3072},           // week 0 of a 10-bit receiver lands in 2038
      {65535 * kWeek, kRelease, 0},  // far in the future: as received
      {kEarlier - 1, kEarlier, 1024},
      {kEarlier, kEarlier, 0},
      {100, 0, 0},  // no release day: nothing moves
  };
  for (const auto& c : cases) {
    double t = c.received;
    EXPECT_EQ(CorrectWeekRollover(&t, c.earliest), c.weeks) << std::fixed << c.received;
    EXPECT_EQ(t, c.received + c.weeks * kWeek) << std::fixed << c.received;
  }
  // Times no clock takes stay as they are.
  for (double bad : {0.0, -1.0, std::nan(""), -std::numeric_limits<double>::infinity()}) {
    double t = bad;
    EXPECT_EQ(CorrectWeekRollover(&t, kRelease), 0);
    EXPECT_TRUE(t == bad || (std::isnan(t) && std::isnan(bad)));
  }
}

std::string TimeOfWeekText(float x) {
  char text[kTimeOfWeekTextSize];
  FormatTimeOfWeek(x, text);
  return text;
}

TEST(TimeOfWeekDisplay, Texts) {
  EXPECT_EQ(TimeOfWeekText(-1.0f), "<No time yet>");
  EXPECT_EQ(TimeOfWeekText(604800.0f), "<Bad time>");
  EXPECT_EQ(TimeOfWeekText(-700000.0f), "<Bad time>");
  EXPECT_EQ(TimeOfWeekText(std::nanf("")), "<Bad time>");
  EXPECT_EQ(TimeOfWeekText(std::numeric_limits<float>::infinity()), "<Bad time>");
  EXPECT_EQ(TimeOfWeekText(-std::numeric_limits<float>::infinity()), "<Bad time>");
  EXPECT_EQ(TimeOfWeekText(0.0f), " Sun 00:00:00.00");
  EXPECT_EQ(TimeOfWeekText(-0.0f), " Sun 00:00:00.00");
  EXPECT_EQ(TimeOfWeekText(-3600.0f), " Sat 23:00:00.00");
  EXPECT_EQ(TimeOfWeekText(-604800.0f), " Sun 00:00:00.00");
  EXPECT_EQ(TimeOfWeekText(345600.5f), " Thu 00:00:00.50");
  EXPECT_EQ(TimeOfWeekText(59.996f), " Sun 00:00:59.99");  // truncated: no 60th second
  EXPECT_EQ(TimeOfWeekText(13.29f), " Sun 00:00:13.29");   // a single a hair below .29
  EXPECT_EQ(TimeOfWeekText(3 * 86400 + 13 * 3600 + 5 * 60 + 7.5f), " Wed 13:05:07.50");
  EXPECT_EQ(TimeOfWeekText(604799.0f), " Sat 23:59:59.00");
  EXPECT_EQ(TimeOfWeekText(std::nextafter(604800.0f, 0.0f)), " Sat 23:59:59.93");
}

TEST(TimeOfWeekDisplay, UtcShowsTheTimeSetGpsTheReceiversOwn) {
  const auto shown = [](float timeOfWeek, float utcOffset, TimeType type) {
    char text[kTimeOfWeekTextSize];
    FormatTimeOfWeek(ShownTimeOfWeek(TimingFields{timeOfWeek, 2400, utcOffset}, type), text);
    return std::string(text);
  };
  EXPECT_EQ(shown(228438.78f, 18, TimeType::Utc), " Tue 15:27:00.78");
  EXPECT_EQ(shown(228438.78f, 18, TimeType::Gps), " Tue 15:27:18.78");
  EXPECT_EQ(shown(5, 18, TimeType::Utc), " Sat 23:59:47.00");  // the week before
  EXPECT_EQ(shown(kNoTimeYet, 18, TimeType::Utc), "<No time yet>");
}

TEST(TimeOfWeekDisplay, WholeSecondsShowTwoZeroDecimals) {
  for (int s = 0; s < 604800; s += 997) {
    const std::string text = TimeOfWeekText(static_cast<float>(s));
    ASSERT_EQ(text.size(), 16u) << text;
    EXPECT_EQ(text.substr(13), ".00") << text;
    EXPECT_EQ(text.substr(1, 3), WeekdayNames[s / 86400]) << text;
    EXPECT_EQ(std::stoi(text.substr(5, 2)), s / 3600 % 24) << text;
    EXPECT_EQ(std::stoi(text.substr(8, 2)), s / 60 % 60) << text;
    EXPECT_EQ(std::stoi(text.substr(11, 2)), s % 60) << text;
  }
}

TEST(WindowsTime, OverwritesTheClockWhileItRunsUnlessItsTypeIsNoSync) {
  const struct {
    bool running;
    const char* type;
    bool overwrites;
  } cases[] = {{true, "NTP", true},      {true, "NT5DS", true},     {true, "AllSync", true},
               {true, "", true},         {true, "NoSync", false},   {true, "NOSYNC", false},
               {true, "NoSync ", true},  {false, "NTP", false},     {false, "", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(WindowsTimeOverwrites(c.running, c.type), c.overwrites) << c.running << c.type;
  }
}

}  // namespace
}  // namespace clockagent::test
