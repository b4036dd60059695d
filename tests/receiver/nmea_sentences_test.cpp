// The NMEA reader: lines cut from a byte stream, checksums, and the fields that carry the time.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "receiver/daro_link.h"
#include "receiver/nmea_sentences.h"

namespace clockagent {
namespace {

// "$" body "*hh" CR LF, with the right checksum.
std::string Line(const std::string& body) {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return "$" + body + tail;
}

std::vector<NmeaSentence> Read(const std::string& stream) {
  NmeaReader reader;
  std::vector<NmeaSentence> out;
  FeedNmeaBytes(reader, reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size(),
                [&](const NmeaSentence& s) { out.push_back(s); });
  return out;
}

NmeaSentence ReadOne(const std::string& stream) {
  const auto sentences = Read(stream);
  EXPECT_EQ(sentences.size(), 1u) << stream;
  return sentences.empty() ? NmeaSentence() : sentences[0];
}

const char kRmc[] = "GPRMC,063534.00,A,5230.1,N,01320.2,E,0.0,12.5,101226,,,A";

TEST(NmeaChecksum, OnlyTwoHexDigitsThatMatchAreRight) {
  const std::string good = Line(kRmc);  // ends "*6E\r\n": letters, to try lower case
  const std::string sum = good.substr(good.size() - 4, 2);
  const std::string lower = std::string(1, static_cast<char>(std::tolower(sum[0]))) +
                            static_cast<char>(std::tolower(sum[1]));
  const struct {
    std::string line;
    NmeaChecksum checksum;
  } kRows[] = {
      {good, NmeaChecksum::Right},
      {"$" + std::string(kRmc) + "*" + lower + "\r\n", NmeaChecksum::Right},
      {"$" + std::string(kRmc) + "*" + (sum == "00" ? "01" : "00") + "\r\n", NmeaChecksum::Wrong},
      {"$" + std::string(kRmc) + "*" + sum.substr(0, 1) + "\r\n", NmeaChecksum::Wrong},
      {"$" + std::string(kRmc) + "*" + sum + "0\r\n", NmeaChecksum::Wrong},
      {"$" + std::string(kRmc) + "*G" + sum.substr(1) + "\r\n", NmeaChecksum::Wrong},
      {"$" + std::string(kRmc) + "\r\n", NmeaChecksum::None},
  };
  for (const auto& row : kRows) {
    const NmeaSentence s = ReadOne(row.line);
    EXPECT_EQ(s.checksum, row.checksum) << row.line;
    // Only a right checksum lets the time and status through.
    EXPECT_EQ(s.hasTime, row.checksum == NmeaChecksum::Right) << row.line;
    EXPECT_EQ(s.status, row.checksum == NmeaChecksum::Right ? 'A' : 0) << row.line;
  }
}

TEST(NmeaTalker, AnyTwoLettersThenTheType) {
  const struct {
    std::string body, talker, type;
    bool hasTime;
  } kRows[] = {
      {"GPRMC,063534,A,,,,,,,101226,,", "GP", "RMC", true},
      {"GNRMC,063534,A,,,,,,,101226,,,A", "GN", "RMC", true},
      {"GLZDA,063534,10,12,2026,,", "GL", "ZDA", true},
      {"GAZDA,063534,10,12,2026,00,00", "GA", "ZDA", true},
      {"BDRMC,063534,A,,,,,,,101226,,,A,V", "BD", "RMC", true},
      {"GPGSV,3,1,11,03,03,111,00", "GP", "GSV", false},
      {"PUBX,04,063534.00", "PU", "BX", false},
  };
  for (const auto& row : kRows) {
    const NmeaSentence s = ReadOne(Line(row.body));
    EXPECT_EQ(s.talker, row.talker) << row.body;
    EXPECT_EQ(s.type, row.type) << row.body;
    EXPECT_EQ(s.hasTime, row.hasTime) << row.body;
  }
}

TEST(NmeaTime, RmcAndZdaGiveTheDateAsSent) {
  const struct {
    std::string body;
    int h, m, s, ms, day, month, year, yearDigits;
    std::int64_t unix;
  } kRows[] = {
      {kRmc, 6, 35, 34, 0, 10, 12, 26, 2, 1796884534},
      {"GPRMC,235959.5,A,,,,,,,311299,,", 23, 59, 59, 500, 31, 12, 99, 2, 4102444799},
      {"GPRMC,000000.123456,V,,,,,,,290200,,,N", 0, 0, 0, 123, 29, 2, 0, 2, 951782400},
      {"GPZDA,235960.00,31,12,2016,00,00", 23, 59, 60, 0, 31, 12, 2016, 4, 1483228800},
      {"GNZDA,120000.07,01,01,2026,-01,30", 12, 0, 0, 70, 1, 1, 2026, 4, 1767268800},
  };
  for (const auto& row : kRows) {
    const NmeaSentence s = ReadOne(Line(row.body));
    ASSERT_TRUE(s.hasTime) << row.body;
    const NmeaTime& t = s.time;
    EXPECT_EQ(std::vector<int>({t.hours, t.minutes, t.seconds, t.milliseconds, t.day, t.month,
                                t.year, t.yearDigits}),
              std::vector<int>({row.h, row.m, row.s, row.ms, row.day, row.month, row.year,
                                row.yearDigits}))
        << row.body;
    std::int64_t unix = 0;
    EXPECT_TRUE(NmeaTimeToUnixSeconds(t, &unix));
    EXPECT_EQ(unix, row.unix) << row.body;
  }
}

TEST(NmeaTime, MalformedFieldsGiveNoTime) {
  const char* const kRows[] = {
      "GPRMC,063534,A,,,,,,,101326,,",        // month 13
      "GPRMC,063534,A,,,,,,,001226,,",        // day 0
      "GPRMC,063534,A,,,,,,,290227,,",        // 2027 is no leap year
      "GPRMC,243534,A,,,,,,,101226,,",        // hour 24
      "GPRMC,066034,A,,,,,,,101226,,",        // minute 60
      "GPZDA,063561,10,12,2026,00,00",        // second 61
      "GPRMC,06353,A,,,,,,,101226,,",         // five digits
      "GPRMC,063534.,A,,,,,,,101226,,",       // a point and no fraction
      "GPRMC,06353x,A,,,,,,,101226,,",        // not a digit
      "GPRMC,063534,A,,,,,,,10122,,",         // short date
      "GPRMC,063534,A,,,,,,,,,",              // no date
      "GPRMC,063534,X,,,,,,,101226,,",        // no status
      "GPRMC,063534,A,,,,,,,101226,",         // 10 fields
      "GPRMC,063534,A,,,,,,,101226,,,A,V,X",  // 14 fields
      "GPZDA,063534,10,12,26,00,00",          // two-digit year
      "GPZDA,063534,10,12,2026,00",           // 5 fields
      "GPZDA,063534,10,12,2026,0x,00",        // bad zone
      "GPZDA,063534,1,12,2026,00,00",         // one-digit day
  };
  for (const char* body : kRows) {
    const NmeaSentence s = ReadOne(Line(body));
    EXPECT_EQ(s.checksum, NmeaChecksum::Right) << body;
    EXPECT_FALSE(s.hasTime) << body;
  }
}

TEST(NmeaFix, RmcStatusAndGgaQuality) {
  const struct {
    std::string body;
    char status;
    int quality;
  } kRows[] = {
      {"GPRMC,063534,V,,,,,,,101226,,,N", 'V', -1},
      {"GPRMC,,V,,,,,,,,,,N", 'V', -1},
      {kRmc, 'A', -1},
      {"GPGGA,063534.00,5230.1,N,01320.2,E,1,08,1.0,40.0,M,45.0,M,,", 0, 1},
      {"GNGGA,063534.00,,,,,0,00,99.99,,,,,,", 0, 0},
      {"GPGGA,063534.00,,,,,,00,99.99,,,,,,", 0, -1},   // no quality
      {"GPGGA,063534.00,,,,,10,00,99.99,,,,,,", 0, -1}, // two digits
      {"GPGGA,063534.00,,,,,1,00,99.99,,,,,", 0, -1},   // 13 fields
  };
  for (const auto& row : kRows) {
    const NmeaSentence s = ReadOne(Line(row.body));
    EXPECT_EQ(s.status, row.status) << row.body;
    EXPECT_EQ(s.quality, row.quality) << row.body;
  }
}

TEST(NmeaFraming, BadLinesAreSkippedAndTheNextGoodOneRead) {
  const std::string zda = Line("GPZDA,063534,10,12,2026,00,00");
  const std::string pad76 = "GPTXT," + std::string(70, 'x');
  const std::string long200 = Line(pad76 + std::string(200, 'x'));
  const struct {
    std::string stream;
    std::vector<std::uint64_t> begins;  // of each reported line
  } kRows[] = {
      {zda + zda, {0, zda.size()}},
      {"$GPRMC,0635" + zda, {11}},                           // truncated, then a new `$`
      {"junk\r\n,,*00\r\n" + zda, {13}},                       // text outside any sentence
      {"$GPGGA,1\x10\x41\x93\x10\x03" + zda, {13}},            // binary inside a line
      {std::string("\x10\x8F\xAB\x24\x00\x10\x03", 7) + zda, {7}},  // a `$` among binary
      {"$GPGGA,1\r" + zda, {9}},                             // CR without LF
      {"$GPGGA,1\n" + zda, {9}},                             // LF without CR
      {Line(pad76) + zda, {0, 82}},                          // 82 characters: the longest
      {Line(pad76 + "x") + zda, {83}},                       // 83: dropped to its end
      {long200 + zda, {long200.size()}},
      {"$" + std::string(100, 'x') + "\r\nGPRMC\r\n" + zda, {110}},  // no `$` after the drop
  };
  for (const auto& row : kRows) {
    std::vector<std::uint64_t> begins;
    for (const NmeaSentence& s : Read(row.stream)) {
      begins.push_back(s.begin);
      EXPECT_EQ(s.checksum, NmeaChecksum::Right);
    }
    EXPECT_EQ(begins, row.begins) << row.stream;
  }
}

TEST(NmeaFraming, ASplitAnywhereReadsTheSame) {
  const std::string stream = "\x10\x03" + Line(kRmc) + "$GP" +
                             Line("GPGGA,063534.00,,,,,1,08,1.0,,,,,,") +
                             Line("GPZDA,063534.25,10,12,2026,00,00");
  const std::vector<NmeaSentence> whole = Read(stream);
  ASSERT_EQ(whole.size(), 3u);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    NmeaReader reader;
    std::vector<NmeaSentence> parts;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
    const auto keep = [&](const NmeaSentence& s) { parts.push_back(s); };
    FeedNmeaBytes(reader, bytes, cut, keep);
    FeedNmeaBytes(reader, bytes + cut, stream.size() - cut, keep);
    ASSERT_EQ(parts.size(), whole.size()) << "cut at " << cut;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].begin, whole[i].begin) << "cut at " << cut;
      EXPECT_EQ(parts[i].end, whole[i].end) << "cut at " << cut;
      EXPECT_EQ(parts[i].hasTime, whole[i].hasTime) << "cut at " << cut;
      EXPECT_EQ(parts[i].quality, whole[i].quality) << "cut at " << cut;
      EXPECT_EQ(parts[i].time.milliseconds, whole[i].time.milliseconds) << "cut at " << cut;
    }
  }
  EXPECT_TRUE(whole[0].hasTime);
  EXPECT_EQ(whole[1].quality, 1);
  EXPECT_EQ(whole[2].time.milliseconds, 250);
}

}  // namespace
TEST(NmeaBursts, EachIsStampedAtItsFirstByteAndEndsAtAGapOrAnotherSecond) {
  // At 9600 baud, read at 10 s on both clocks: the first `$` began 200 characters before.
  ReceiverLink link;
  link.protocol = ReceiverProtocol::Nmea;
  link.characterTimeNs = 1041667;
  link.blockArrival = {10000000000, 10000000000};
  const std::string first = "junk" + Line("GPRMC,120000.00,A,1,N,2,E,0,0,101226,,") +
                            Line("GPGGA,120000,1,N,2,E,0,08,0.9,5,M,4,M,,");
  const std::string second = Line("GPZDA,120001.00,10,12,2026,00,00");  // no gap: another second
  const std::string all = first + second;
  std::vector<NmeaBurst> ended;
  ReceiveBytes(link, reinterpret_cast<const std::uint8_t*>(all.data()), all.size(),
               [&](ReceiverLink& l) { ended.push_back(l.nmea.ended); });
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].arrival.systemNs,
            10000000000 - static_cast<std::int64_t>(all.size() - 4) * link.characterTimeNs);
  EXPECT_EQ(ended[0].time.seconds, 0);
  EXPECT_EQ(ended[0].quality, 0);  // GGA's: no fix
  // The second ends when the line has been quiet for the gap.
  EXPECT_FALSE(EndQuietBurst(link, {10000000000 + kNmeaBurstGapNs / 2, 10000000000 + kNmeaBurstGapNs / 2}));
  ASSERT_TRUE(EndQuietBurst(link, {10000000000 + kNmeaBurstGapNs, 10000000000 + kNmeaBurstGapNs}));
  EXPECT_EQ(link.nmea.ended.time.seconds, 1);
  EXPECT_EQ(link.nmea.ended.arrival.systemNs,
            10000000000 - static_cast<std::int64_t>(second.size()) * link.characterTimeNs);
  // A fifth of a second names no pulse's second.
  const std::string fifth = Line("GPZDA,120001.20,10,12,2026,00,00");
  ReceiveBytes(link, reinterpret_cast<const std::uint8_t*>(fifth.data()), fifth.size(),
               [&](ReceiverLink& l) { ended.push_back(l.nmea.ended); });
  EXPECT_FALSE(EndQuietBurst(link, {20000000000, 20000000000}));
  EXPECT_EQ(ended.size(), 1u);
}

}  // namespace clockagent
