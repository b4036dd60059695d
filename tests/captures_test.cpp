// Real receiver recordings through the parser and the timing packets.
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

// The receiver's own calendar in bytes 9 to 16 of packet 0x8F-AB.
std::string ReceiverCalendar(const Bytes& data) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ",
                static_cast<unsigned>(GetU16(&data[15])), data[14], data[13], data[12], data[11],
                data[10]);
  return text;
}

std::string ClockCalendar(double receiverTime) {
  SystemTime time;
  return ReceiverTimeToSystemTime(receiverTime, &time) ? Iso(time) : "bad";
}

std::vector<Packet> ParseCapture(const std::string& name, std::size_t blockSize = kRxBlockSize) {
  auto link = std::make_unique<ReceiverLink>();
  return ParsePackets(*link, ReadCapture(name), blockSize);
}

TEST(Captures, AllArePresent) {
  EXPECT_EQ(CaptureNames().size(), 6u);
}

TEST(Captures, Packet8FABAgreesWithTheReceiversOwnCalendar) {
  int checked = 0;
  for (const std::string& name : CaptureNames()) {
    auto link = std::make_unique<ReceiverLink>();
    for (const Packet& p : ParseCapture(name)) {
      if (p.id != 0x8F || p.data.empty() || p.data[0] != 0xAB) continue;
      ASSERT_EQ(p.data.size(), 17u) << name;
      std::copy(p.data.begin(), p.data.end(), link->packetBuffer);
      link->packetLength = 17;
      TimingFields fields;
      ASSERT_TRUE(ReadPacket8FAB(*link, &fields));
      const bool calendarIsUtc = p.data[9] & 1;
      const double t = ReceiverTime(fields, calendarIsUtc ? TimeType::Utc : TimeType::Gps);
      EXPECT_EQ(ClockCalendar(t), ReceiverCalendar(p.data)) << name << " packet " << checked;
      EXPECT_EQ(fields.utcOffset, 18.0f) << name;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 89);  // every 0x8F-AB in the recordings
}

TEST(Captures, Packet41CarriesTheRecordedWeek) {
  const struct {
    const char* name;
    unsigned week;
    const char* yearPrefix;
  } expected[] = {{"rx-a-0x41.bin", 1403, "2006-"},
                  {"rx-a-0x41-3dfix.bin", 1403, "2006-"},
                  {"rx-a-0x41-moving.bin", 1406, "2006-"},
                  {"rx-a-0x41-2019.bin", 2077, "2019-"}};
  for (const auto& capture : expected) {
    auto link = std::make_unique<ReceiverLink>();
    int seen = 0;
    for (const Packet& p : ParseCapture(capture.name)) {
      if (p.id != 0x41 || p.data.size() != 10) continue;
      std::copy(p.data.begin(), p.data.end(), link->packetBuffer);
      link->packetLength = 10;
      TimingFields fields;
      ASSERT_TRUE(ReadPacket41(*link, &fields));
      EXPECT_EQ(fields.week, capture.week) << capture.name;
      EXPECT_EQ(ClockCalendar(ReceiverTime(fields, TimeType::Utc)).substr(0, 5),
                capture.yearPrefix)
          << capture.name;
      ++seen;
    }
    EXPECT_GT(seen, 0) << capture.name;
  }
}

// Every timing packet a receiver sent, read and written again, comes out byte for byte.
TEST(Captures, TimingPacketsAreWrittenAsReceiversWriteThem) {
  using Rewrite = Bytes (*)(const ReceiverLink&);
  const struct {
    std::uint8_t id;
    std::size_t length;
    Rewrite rewrite;
    int packets;  // in all the recordings
  } kinds[] = {
      {0x41, 10, [](const ReceiverLink& l) {
         TimingFields f;
         return ReadPacket41(l, &f) ? Frame(0x41, WritePacket41(f)) : Bytes{};
       }, 30},
      {0x8F, 17, [](const ReceiverLink& l) {
         TimingFields f;
         PacketCalendar c;
         const bool read = ReadPacket8FAB(l, &f) && ReadCalendar8FAB(l, &c);
         return read ? Frame(0x8F, WritePacket8FAB(f, c)) : Bytes{};
       }, 89}};
  for (const auto& kind : kinds) {
    int written = 0;
    for (const std::string& name : CaptureNames()) {
      auto link = std::make_unique<ReceiverLink>();
      for (const Packet& p : ParseCapture(name)) {
        if (p.id != kind.id || p.data.size() != kind.length) continue;
        if (p.id == kPacket8FId && p.data[0] != kSubcodeAB) continue;
        std::copy(p.data.begin(), p.data.end(), link->packetBuffer);
        link->packetLength = static_cast<std::uint32_t>(p.data.size());
        EXPECT_EQ(kind.rewrite(*link), Frame(kind.id, p.data)) << name << " packet " << written;
        ++written;
      }
    }
    EXPECT_EQ(written, kind.packets) << static_cast<int>(kind.id);
  }
}

TEST(Captures, ParseTheSameWhateverTheReadSize) {
  for (const std::string& name : CaptureNames()) {
    const auto whole = ParseCapture(name);
    EXPECT_GT(whole.size(), 10u) << name;
    for (std::size_t blockSize : {1u, 5u, 64u, 1000u}) {
      EXPECT_EQ(ParseCapture(name, blockSize), whole) << name << " in blocks of " << blockSize;
    }
  }
}

TEST(Captures, ABroadcastIsReportedPacketByPacket) {
  const Bytes bytes = ReadCapture("rx-b-0x8fab.bin");
  auto link = std::make_unique<ReceiverLink>();
  link->isOpen = 1;
  RecordedAttempt attempt;
  ReceiveBytes(*link, bytes.data(), bytes.size(),
               [&](ReceiverLink& completed) { DispatchPacket(completed, attempt.context); });
  // The first packet: week 2076, time of week 239909 (Tue 18:38:29 GPS), offset 18; then one a
  // second.
  ASSERT_GT(attempt.sink.reports.size(), 2u);
  EXPECT_EQ(attempt.sink.reports[0].fields.timeOfWeek, 239909.0f);
  EXPECT_EQ(attempt.sink.reports[1].fields.timeOfWeek, 239910.0f);
  SystemTime first;
  ASSERT_TRUE(ReceiverTimeToSystemTime(attempt.sink.reports[0].receiverTime, &first));
  EXPECT_EQ(Iso(first), "2019-10-22T18:38:11Z");
}

}  // namespace
}  // namespace clockagent::test
