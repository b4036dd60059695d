// The sample a timing packet gives, or why it gives none.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "update/clock_sample.h"
#include "update/clock_setting.h"

namespace clockagent::test {
namespace {

constexpr std::int64_t kNs = 1000000000;
// GPS week 2500, Wednesday 12:00:00 GPS time, is 2027-12-08T11:59:42Z with 18 leap seconds:
// 1828267182 seconds after 1970.
constexpr std::int64_t kWednesdayUtc = 1828267182;
constexpr double kNoEarliest = 0;  // no time taken for a rollover

TimingReport Report(TimingPacket packet, float timeOfWeek, std::uint16_t week, float utcOffset,
                    TimeType type, std::int64_t arrivalNs) {
  TimingReport report;
  report.packet = packet;
  report.fields = TimingFields{timeOfWeek, week, utcOffset};
  report.timeType = type;
  report.receiverTime = ReceiverTime(report.fields, type);
  report.arrival.systemNs = arrivalNs;
  report.arrival.monotonicNs = 5;
  return report;
}

TEST(ClockSample, ReceiverTimeAgainstTheArrivalToTheNanosecond) {
  const auto ab = TimingPacket::Packet8FAB;
  const auto p41 = TimingPacket::Packet41;
  const struct {
    const char* name;
    TimingReport report;
    int latencyMs;
    double earliest;
    std::int64_t offsetNs;
    int rolloverWeeks;
  } cases[] = {
      {"clock 5 ms ahead", Report(ab, 302400, 2500, 18, TimeType::Utc, kWednesdayUtc * kNs + 5000000),
       0, kNoEarliest, -5000000, 0},
      {"latency added", Report(ab, 302400, 2500, 18, TimeType::Utc, kWednesdayUtc * kNs + 5000000),
       40, kNoEarliest, 35000000, 0},
      {"clock 1 ns behind", Report(ab, 302400, 2500, 18, TimeType::Utc, kWednesdayUtc * kNs - 1),
       0, kNoEarliest, 1, 0},
      {"GPS time: the leap seconds ahead",
       Report(ab, 302400, 2500, 18, TimeType::Gps, kWednesdayUtc * kNs), 0, kNoEarliest,
       18 * kNs, 0},
      {"a half second of 0x41", Report(p41, 302400.5f, 2500, 18, TimeType::Utc,
                                       kWednesdayUtc * kNs + 500000000),
       0, kNoEarliest, 0, 0},
      {"a clock left in 1970", Report(ab, 302400, 2500, 18, TimeType::Utc, 0), 0, kNoEarliest,
       kWednesdayUtc * kNs, 0},
      {"10-bit week rolled over once",
       Report(ab, 302400, 2500 - 1024, 18, TimeType::Utc, kWednesdayUtc * kNs + 5000000), 0,
       kReleaseReceiverTime, -5000000, 1024},
      {"on or after the release day: as received",
       Report(ab, 302400, 2500, 18, TimeType::Utc, kWednesdayUtc * kNs), 0, kReleaseReceiverTime,
       0, 0},
  };
  for (const auto& c : cases) {
    ClockSample sample;
    ASSERT_EQ(SampleOf(c.report, c.latencyMs, c.earliest, &sample), Refusal::None) << c.name;
    EXPECT_EQ(sample.systemNs, c.report.arrival.systemNs) << c.name;
    EXPECT_EQ(sample.monotonicNs, c.report.arrival.monotonicNs) << c.name;
    EXPECT_EQ(sample.offsetNs, c.offsetNs) << c.name;
    EXPECT_EQ(sample.rolloverWeeks, c.rolloverWeeks) << c.name;
  }
}

TEST(ClockSample, BadOrMissingTimeGivesNoSample) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    const char* name;
    float timeOfWeek;
    std::uint16_t week;
    float utcOffset;
    Refusal refusal;
  } cases[] = {
      {"no time yet", kNoTimeYet, 2500, 18, Refusal::TimeNotSet},
      {"time of week of a whole week", 604800, 2500, 18, Refusal::NotADate},
      {"time of week below zero", -0.5f, 2500, 18, Refusal::NotADate},
      {"time of week not a number", nan, 2500, 18, Refusal::NotADate},
      {"the epoch less the offset: before 1980", 0, 0, 18, Refusal::NotADate},
      {"offset not a number", 302400, 2500, nan, Refusal::NotADate},
      {"week 65535: more than 136 years from the clock", 0, 65535, 18, Refusal::NotADate},
  };
  for (const auto& c : cases) {
    const TimingReport report = Report(TimingPacket::Packet41, c.timeOfWeek, c.week, c.utcOffset,
                                       TimeType::Utc, kWednesdayUtc * kNs);
    ClockSample sample{123, 456, 789, 7};
    EXPECT_EQ(SampleOf(report, 0, kReleaseReceiverTime, &sample), c.refusal) << c.name;
    EXPECT_EQ(sample.systemNs, 123) << c.name << ": left alone";
    EXPECT_EQ(sample.offsetNs, 456) << c.name;
    EXPECT_EQ(sample.rolloverWeeks, 7) << c.name;
  }
}

TEST(ClockSample, A0x8FABWhoseCalendarNamesAnotherSecondGivesNoSample) {
  // Wednesday 12:00:00 of week 2500 in GPS time is 2027-12-08, 11:59:42 in UTC.
  const PacketCalendar gps{0, 0, 12, 8, 12, 2027}, utc{42, 59, 11, 8, 12, 2027};
  const struct {
    const char* name;
    float timeOfWeek;
    std::uint16_t week;
    std::uint8_t flags;
    PacketCalendar calendar;
    Refusal refusal;
  } cases[] = {
      {"GPS calendar", 302400, 2500, 0, gps, Refusal::None},
      {"UTC calendar", 302400, 2500, kUtcCalendarFlag, utc, Refusal::None},
      {"no calendar", 302400, 2500, 0, PacketCalendar{}, Refusal::None},
      {"week one too many", 302400, 2501, 0, gps, Refusal::CalendarDisagrees},
      {"a second later", 302401, 2500, 0, gps, Refusal::CalendarDisagrees},
      {"GPS calendar said to be UTC", 302400, 2500, kUtcCalendarFlag, gps,
       Refusal::CalendarDisagrees},
      {"no month", 302400, 2500, 0, PacketCalendar{0, 0, 12, 8, 0, 2027}, Refusal::CalendarDisagrees},
  };
  for (const auto& c : cases) {
    TimingReport report = Report(TimingPacket::Packet8FAB, c.timeOfWeek, c.week, 18, TimeType::Utc,
                                 kWednesdayUtc * kNs);
    report.fields.flags = c.flags;
    report.calendar = c.calendar;
    ClockSample sample;
    EXPECT_EQ(SampleOf(report, 0, kNoEarliest, &sample), c.refusal) << c.name;
  }
  EXPECT_EQ(RefusalText(Refusal::CalendarDisagrees), "receiver: its calendar and its week disagree");
}

}  // namespace
}  // namespace clockagent::test
