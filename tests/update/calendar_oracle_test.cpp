// The clock's calendar against the C library's: gmtime_r and timegm.
#include <gtest/gtest.h>

#include <time.h>

#include <cmath>
#include <random>

#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

constexpr std::int64_t kGpsEpochUnix = 315964800;  // 1980-01-06T00:00:00Z

std::string LibcCalendar(std::int64_t unixSeconds) {
  const auto t = static_cast<time_t>(unixSeconds);
  tm parts{};
  EXPECT_NE(gmtime_r(&t, &parts), nullptr);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

TEST(CalendarOracle, RandomReceiverTimesFrom1980To2200) {
  tm end{};
  end.tm_year = 2200 - 1900;
  end.tm_mon = 0;
  end.tm_mday = 1;
  const double limit = static_cast<double>(timegm(&end) - kGpsEpochUnix);
  std::mt19937_64 random(2026);
  std::uniform_real_distribution<double> anyTime(0.0, limit);
  for (int i = 0; i < 200000; ++i) {
    double t = anyTime(random);
    if (i % 2 == 0) t = std::floor(t);  // whole seconds, as 0x8F-AB carries them
    if (!(t > 0)) continue;
    SystemTime ours;
    ASSERT_TRUE(ReceiverTimeToSystemTime(t, &ours)) << t;
    const auto whole = static_cast<std::int64_t>(std::floor(t));
    ASSERT_EQ(Iso(ours), LibcCalendar(whole + kGpsEpochUnix)) << "receiver time " << t;
  }
}

TEST(CalendarOracle, EveryDayFrom1970ToTheYear3400) {
  for (std::int64_t days = 0; days < 524000; ++days) {
    const CivilDate date = CivilFromDays(days);
    tm parts{};
    parts.tm_year = static_cast<int>(date.year - 1900);
    parts.tm_mon = static_cast<int>(date.month) - 1;
    parts.tm_mday = static_cast<int>(date.day);
    ASSERT_EQ(static_cast<std::int64_t>(timegm(&parts)), days * 86400) << date.year;
    ASSERT_EQ(DaysFromCivil(date.year, date.month, date.day), days);
  }
}

TEST(CalendarOracle, UnixSecondsOfTheRecordsTheClockIsSetFrom) {
  std::mt19937_64 random(6);
  std::uniform_int_distribution<std::int64_t> anySecond(1, 7000000000);
  for (int i = 0; i < 50000; ++i) {
    const std::int64_t receiverSeconds = anySecond(random);
    SystemTime time;
    ASSERT_TRUE(ReceiverTimeToSystemTime(static_cast<double>(receiverSeconds), &time));
    std::int64_t unixSeconds = 0;
    ASSERT_TRUE(SystemTimeToUnixSeconds(time, &unixSeconds));
    tm parts{};
    parts.tm_year = time.wYear - 1900;
    parts.tm_mon = time.wMonth - 1;
    parts.tm_mday = time.wDay;
    parts.tm_hour = time.wHour;
    parts.tm_min = time.wMinute;
    parts.tm_sec = time.wSecond;
    ASSERT_EQ(unixSeconds, static_cast<std::int64_t>(timegm(&parts)));
    ASSERT_EQ(unixSeconds, receiverSeconds + kGpsEpochUnix);
  }
}

}  // namespace
}  // namespace clockagent::test
