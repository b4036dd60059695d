// The timing packets, from a completed packet to the clock, the display and the outcome.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

TEST(FieldReaders, AreBigEndian) {
  const std::uint8_t b[] = {0x48, 0x93, 0xA8, 0x00, 0xFF, 0xFF, 0x80, 0x00, 0x7F, 0xFF};
  EXPECT_EQ(GetU16(b), 0x4893u);
  EXPECT_EQ(GetU16(b + 4), 65535u);
  EXPECT_EQ(GetS16(b + 4), -1);
  EXPECT_EQ(GetS16(b + 6), -32768);
  EXPECT_EQ(GetS16(b + 8), 32767);
  EXPECT_EQ(GetU32(b), 0x4893A800u);
  EXPECT_EQ(GetU32(b + 4), 0xFFFF8000u);
  EXPECT_EQ(GetSingle(b), 302400.0f);
}

TEST(FieldReaders, SingleCarriesEveryIeeeValue) {
  const std::uint8_t minusOne[] = {0xBF, 0x80, 0x00, 0x00};
  const std::uint8_t infinity[] = {0x7F, 0x80, 0x00, 0x00};
  const std::uint8_t largest[] = {0x7F, 0x7F, 0xFF, 0xFF};
  const std::uint8_t nan[] = {0x7F, 0xC0, 0x00, 0x00};
  const std::uint8_t smallest[] = {0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(GetSingle(minusOne), -1.0f);
  EXPECT_EQ(GetSingle(infinity), std::numeric_limits<float>::infinity());
  EXPECT_EQ(GetSingle(largest), std::numeric_limits<float>::max());
  EXPECT_TRUE(std::isnan(GetSingle(nan)));
  EXPECT_EQ(GetSingle(smallest), std::numeric_limits<float>::denorm_min());
}

// Packet data of GPS time Wednesday 12:00:00 (time of week 302400) of week 1200, UTC offset 13.
const Bytes kWeek1200Noon41 = {0x48, 0x93, 0xA8, 0x00, 0x04, 0xB0, 0x41, 0x50, 0x00, 0x00};
const Bytes kWeek1200Noon8FAB = {0xAB, 0x00, 0x04, 0x9D, 0x40, 0x04, 0xB0, 0x00, 0x0D,
                                 0x00, 0x00, 0x0C, 0x0B, 0x08, 0x01, 0x07, 0xD3};

Bytes Packet41(const Bytes& tow, std::uint16_t week, const Bytes& offset) {
  Bytes data = tow;
  data.push_back(static_cast<std::uint8_t>(week >> 8));
  data.push_back(static_cast<std::uint8_t>(week));
  data.insert(data.end(), offset.begin(), offset.end());
  return data;
}

Packet8FABData Packet8FAB(std::uint32_t tow, std::uint16_t week, std::int16_t offset) {
  return WritePacket8FAB({static_cast<float>(tow), week, static_cast<float>(offset), 0}, {});
}

// A link that is open and an attempt waiting for its timing packet.
class TimingTest : public ::testing::Test, protected RecordedAttempt {
 protected:
  TimingTest() {
    link->isOpen = 1;
    link->port = &port;
  }

  void Receive(const Bytes& wire) {
    ReceiveBytes(*link, wire.data(), wire.size(),
                 [this](ReceiverLink& completed) { DispatchPacket(completed, context); });
  }

  std::unique_ptr<ReceiverLink> link = std::make_unique<ReceiverLink>();
  RecordingPort port;
};

TEST_F(TimingTest, Week1200NoonAsUtc) {
  Receive(Frame(0x41, kWeek1200Noon41));
  ASSERT_EQ(sink.reports.size(), 1u);
  const TimingReport& report = sink.reports[0];
  EXPECT_EQ(report.packet, TimingPacket::Packet41);
  EXPECT_EQ(report.fields.timeOfWeek, 302400.0f);
  EXPECT_EQ(report.fields.week, 1200);
  EXPECT_EQ(report.fields.utcOffset, 13.0f);
  EXPECT_EQ(report.receiverTime, 726062387.0);
  EXPECT_EQ(ReportedTime(), "2003-01-08T11:59:47Z");
}

TEST_F(TimingTest, Week1200NoonAsGps) {
  context.ActiveTimeType = TimeType::Gps;
  Receive(Frame(0x8F, kWeek1200Noon8FAB));
  ASSERT_EQ(sink.reports.size(), 1u);
  EXPECT_EQ(sink.reports[0].packet, TimingPacket::Packet8FAB);
  EXPECT_EQ(sink.reports[0].fields.timeOfWeek, 302400.0f);
  EXPECT_EQ(ReportedTime(), "2003-01-08T12:00:00Z");
}

TEST(ReceiverTimeOf, BothPacketsOfWeek1200Noon) {
  auto link = std::make_unique<ReceiverLink>();
  TimingFields a, b;
  ParsePackets(*link, Frame(0x41, kWeek1200Noon41));
  ASSERT_TRUE(ReadPacket41(*link, &a));
  ParsePackets(*link, Frame(0x8F, kWeek1200Noon8FAB));
  ASSERT_TRUE(ReadPacket8FAB(*link, &b));
  for (const TimingFields& f : {a, b}) {
    EXPECT_EQ(ReceiverTime(f, TimeType::Utc), 726062387.0);
    EXPECT_EQ(ReceiverTime(f, TimeType::Gps), 726062400.0);
  }
}

TEST_F(TimingTest, WrongLengthsAreIgnoredAndTheAttemptGoesOn) {
  Bytes nine(kWeek1200Noon41.begin(), kWeek1200Noon41.end() - 1);
  Bytes eleven = kWeek1200Noon41;
  eleven.push_back(0);
  Bytes sixteen(kWeek1200Noon8FAB.begin(), kWeek1200Noon8FAB.end() - 1);
  Bytes eighteen = kWeek1200Noon8FAB;
  eighteen.push_back(0);
  for (const Bytes& wire : {Frame(0x41, nine), Frame(0x41, eleven), Frame(0x8F, sixteen),
                            Frame(0x8F, eighteen), Frame(0x41, {}), Frame(0x8F, {})}) {
    Receive(wire);
  }
  EXPECT_TRUE(sink.reports.empty());

  Receive(Frame(0x41, kWeek1200Noon41));  // and the next right one is still taken
  EXPECT_EQ(sink.reports.size(), 1u);
}

TEST_F(TimingTest, OtherPacketsAreIgnored) {
  Bytes ac = kWeek1200Noon8FAB;
  ac[0] = 0xAC;
  Receive(Frame(0x8F, ac));
  Receive(Frame(0x42, kWeek1200Noon41));
  Receive(Frame(0x6D, kWeek1200Noon8FAB));
  EXPECT_TRUE(sink.reports.empty());
}

TEST_F(TimingTest, EveryTimingPacketIsReported) {
  Bytes wire = Frame(0x8F, Packet8FAB(302400, 1200, 18));
  const Bytes second = Frame(0x41, kWeek1200Noon41);
  wire.insert(wire.end(), second.begin(), second.end());
  Receive(wire);
  ASSERT_EQ(sink.reports.size(), 2u);
  EXPECT_EQ(sink.reports[0].receiverTime, 726062382.0);
  EXPECT_EQ(sink.reports[1].receiverTime, 726062387.0);
}

TEST_F(TimingTest, NothingIsDispatchedWhileTheLinkIsClosed) {
  link->isOpen = 0;
  Receive(Frame(0x41, kWeek1200Noon41));
  EXPECT_TRUE(sink.reports.empty());
}

TEST_F(TimingTest, ALinkClosedOnAReportParsesOnButDispatchesNoMore) {
  struct ClosingSink final : TimingSink {
    void TimingPacketReceived(const TimingReport&) override {
      ++reports;
      link->isOpen = 0;
    }
    ReceiverLink* link;
    int reports = 0;
  } closing;
  closing.link = link.get();
  context.sink = &closing;

  Bytes wire = Frame(0x41, kWeek1200Noon41);
  const Bytes more = Frame(0x8F, kWeek1200Noon8FAB);
  wire.insert(wire.end(), more.begin(), more.end());
  wire.push_back(0x10);
  wire.push_back(0x6D);  // a packet start: proves the rest of the block was parsed
  Receive(wire);
  EXPECT_EQ(closing.reports, 1);
  EXPECT_EQ(link->packetId, 0x6D);
}

TEST_F(TimingTest, APacketCarriesWhenTheBlockThatBeganItWasRead) {
  // The packet starts in the first block and ends in the second: the first block's reading.
  const Bytes wire = Frame(0x41, kWeek1200Noon41);
  link->blockArrival = ClockReading{1000, 10};
  ReceiveBytes(*link, wire.data(), 5, [this](ReceiverLink& l) { DispatchPacket(l, context); });
  link->blockArrival = ClockReading{2000, 20};
  ReceiveBytes(*link, wire.data() + 5, wire.size() - 5,
               [this](ReceiverLink& l) { DispatchPacket(l, context); });
  ASSERT_EQ(sink.reports.size(), 1u);
  EXPECT_EQ(sink.reports[0].arrival.systemNs, 1000);
  EXPECT_EQ(sink.reports[0].arrival.monotonicNs, 10);
}

TEST_F(TimingTest, ATimeOfWeekOfMinusOneIsNoTimeInAnyWeek) {
  for (const std::uint16_t week : {std::uint16_t{0}, std::uint16_t{2448}, std::uint16_t{65535}}) {
    Receive(Frame(0x41, Packet41({0xBF, 0x80, 0x00, 0x00}, week, {0, 0, 0, 0})));
  }
  ASSERT_EQ(sink.reports.size(), 3u);
  for (const TimingReport& report : sink.reports) {
    EXPECT_EQ(report.fields.timeOfWeek, -1.0f);
    EXPECT_TRUE(std::isnan(report.receiverTime)) << report.fields.week;
  }
}

TEST_F(TimingTest, NonFiniteOrHugeTimesAreReportedAsTheyAre) {
  const Bytes cases[] = {{0x7F, 0x80, 0x00, 0x00},   // +Inf
                         {0x7F, 0xC0, 0x00, 0x00},   // NaN
                         {0x5F, 0x00, 0x00, 0x00}};  // 9.2e18, far beyond the calendar
  for (const Bytes& tow : cases) {
    Receive(Frame(0x41, Packet41(tow, 2400, {0x41, 0x90, 0x00, 0x00})));
  }
  ASSERT_EQ(sink.reports.size(), 3u);
  for (const TimingReport& report : sink.reports) {
    EXPECT_FALSE(IsUsableReceiverTime(report.receiverTime)) << report.receiverTime;
  }
}

TEST_F(TimingTest, TimeTypeDecidesWhetherTheOffsetIsSubtracted) {
  Receive(Frame(0x41, kWeek1200Noon41));
  context.ActiveTimeType = TimeType::Gps;
  Receive(Frame(0x41, kWeek1200Noon41));
  // Any value other than UTC counts as GPS time.
  context.ActiveTimeType = static_cast<TimeType>(7);
  Receive(Frame(0x41, kWeek1200Noon41));
  ASSERT_EQ(sink.reports.size(), 3u);
  EXPECT_EQ(sink.reports[0].receiverTime, 726062387.0);
  EXPECT_EQ(sink.reports[1].receiverTime, 726062400.0);
  EXPECT_EQ(sink.reports[2].receiverTime, 726062400.0);
}

TEST_F(TimingTest, NegativeOffsetMakesUtcLaterThanGps) {
  Receive(Frame(0x8F, Packet8FAB(302400, 1200, -1)));
  EXPECT_EQ(ReportedTime(), "2003-01-08T12:00:01Z");
}

TEST_F(TimingTest, LargestTimeOfWeekBecomesTheNearestSingle) {
  context.ActiveTimeType = TimeType::Gps;
  Receive(Frame(0x8F, Packet8FAB(0xFFFFFFFFu, 0, 0)));
  EXPECT_EQ(ReportedTime(), "2116-02-12T06:28:16Z");  // 4294967296 s
  EXPECT_EQ(sink.reports[0].fields.timeOfWeek, 4294967296.0f);
}

TEST_F(TimingTest, Week65535IsUsedWithoutWrapping) {
  context.ActiveTimeType = TimeType::Gps;
  Receive(Frame(0x41, Packet41({0, 0, 0, 0}, 65535, {0, 0, 0, 0})));
  EXPECT_EQ(ReportedTime(), "3236-01-06T00:00:00Z");

  // The latest time either packet can carry: week 65535, time of week 2^32, offset -32768.
  sink.reports.clear();
  context.ActiveTimeType = TimeType::Utc;
  Receive(Frame(0x8F, Packet8FAB(0xFFFFFFFFu, 65535, -32768)));
  EXPECT_EQ(ReportedTime(), "3372-02-12T15:34:24Z");
}

TEST_F(TimingTest, RequestTimeWritesTheFourRequestBytes) {
  RequestTime(*link);
  EXPECT_EQ(port.writes, std::vector<Bytes>{Bytes({0x10, 0x21, 0x10, 0x03})});
}

}  // namespace
}  // namespace clockagent::test
