// clockagent decode, run as a user runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "tests/support/cli_support.h"
#include "tests/support/test_support.h"
#include "version.h"

namespace clockagent::test {
namespace {

class DecodeCommand : public ::testing::Test {
 protected:
  CliResult Clockagent(const std::string& args, const std::string& stdinPath = "/dev/null") {
    return RunClockagent(args, stdinPath);
  }

  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = dir.path() + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return path;
  }

  TempDir dir;
};

std::string Field(const std::string& line, const std::string& key) {
  const auto at = line.find(" " + key + "=");
  if (at == std::string::npos) return "";
  const auto from = at + key.size() + 2;
  return line.substr(from, line.find(' ', from) - from);
}

TEST_F(DecodeCommand, PrintsEachPacketExactly) {
  Bytes stream;
  const auto add = [&](const Bytes& b) { stream.insert(stream.end(), b.begin(), b.end()); };
  add(Frame(0x41, {0x48, 0x93, 0xA8, 0x00, 0x04, 0xB0, 0x41, 0x50, 0x00, 0x00}));
  add(Frame(0x8F, {0xAB, 0x00, 0x04, 0x9D, 0x40, 0x04, 0xB0, 0xFF, 0xFF, 0xFD, 0, 0, 0, 0, 0, 0, 0}));
  add(Frame(0x8F, {0xAC, 1, 2}));
  add(Frame(0x8F, {}));
  add(Frame(0x41, {0xBF, 0x80, 0x00, 0x00, 0, 0, 0, 0, 0, 0}));             // no time yet
  add(Frame(0x41, {0x7F, 0x80, 0x00, 0x00, 0x09, 0x60, 0x41, 0x90, 0, 0}));  // +Inf
  add(Frame(0x41, {0x3F, 0xC0, 0x00, 0x00, 0, 0, 0x3F, 0xC0, 0, 0}));        // 1.5 s, offset 1.5
  add(Frame(0x41, {1, 2, 3}));
  add(Frame(0x6D, Bytes(600, 0x22)));  // overflows: completes under id 0
  add(Frame(0x00, {0x10}));            // id 0 is not special on the wire

  const CliResult run = Clockagent("decode '" + WriteFile("mixed.bin", stream) + "'");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "0x41 len=10 week=1200 tow=302400 offset=13 gps=2003-01-08T12:00:00Z "
            "utc=2003-01-08T11:59:47Z\n"
            "0x8F-AB len=17 week=1200 tow=302400 offset=-1 gps=2003-01-08T12:00:00Z "
            "utc=2003-01-08T12:00:01Z "
            "flags=0xFD(utc,time-not-set,no-utc-info,user-time,bit5,bit6,bit7)\n"
            "0x8F-AC len=3\n"
            "0x8F len=0\n"
            "0x41 len=10 week=0 tow=-1 offset=0 gps=bad utc=bad\n"
            "0x41 len=10 week=2400 tow=inf offset=18 gps=bad utc=bad\n"
            "0x41 len=10 week=0 tow=1.5 offset=1.5 gps=1980-01-06T00:00:01Z utc=bad\n"
            "0x41 len=3\n"
            "0x00 len=88\n"
            "0x00 len=1\n");
}

TEST_F(DecodeCommand, NmeaPrintsEachCompleteSentence) {
  const std::string text =
      "$GPRMC,063534.00,A,5230.1,N,01320.2,E,0.0,,101226,,,A*76\r\n"
      "$GNGGA,0635"  // cut off by the next sentence
      "$GNGGA,063534.00,,,,,0,00,99.99,,,,,,*7F\r\n"
      "$GPGSV,1,1,00\r\n"
      "$GPRMC,063534.00,A,5230.1,N,01320.2,E,0.0,,101226,,,A*77\r\n"
      "$GPZDA,063534.50,10,12,2026,00,00*60\r\n"
      "$GPRMC,,V,,,,,,,,,,N*53\r\n";
  Bytes stream = Frame(0x41, {0x48, 0x93, 0xA8, 0x00, 0x04, 0xB0, 0x41, 0x50, 0x00, 0x00});
  stream.insert(stream.end(), text.begin(), text.end());

  const CliResult run =
      Clockagent("decode --protocol nmea '" + WriteFile("nmea.txt", stream) + "'");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "GPRMC time=2026-12-10T06:35:34 status=A checksum=ok\n"
            "GNGGA quality=0 checksum=ok\n"
            "GPGSV checksum=none\n"
            "GPRMC checksum=bad\n"
            "GPZDA time=2026-12-10T06:35:34 checksum=ok\n"
            "GPRMC status=V checksum=ok\n");
}

TEST_F(DecodeCommand, CapturesAgreeWithTheReceiversCalendar) {
  int checked = 0;
  for (const std::string& name : CaptureNames()) {
    const std::string path = std::string(CLOCKAGENT_CAPTURES_DIR) + "/" + name;
    const CliResult run = Clockagent("decode '" + path + "'");
    ASSERT_EQ(run.exitCode, 0) << name << run.err;
    auto link = std::make_unique<ReceiverLink>();
    const auto packets = ParsePackets(*link, ReadCapture(name));
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), packets.size()) << name;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const Packet& p = packets[i];
      if (p.id != 0x8F || p.data.size() != 17 || p.data[0] != 0xAB) continue;
      ASSERT_EQ(lines[i].rfind("0x8F-AB len=17 week=", 0), 0u) << lines[i];
      ASSERT_EQ(p.data[9] & 1, 0) << "calendar fields are GPS time in these recordings";
      char calendar[32];
      std::snprintf(calendar, sizeof calendar, "%04u-%02u-%02uT%02u:%02u:%02uZ",
                    static_cast<unsigned>(p.data[15] << 8 | p.data[16]), p.data[14], p.data[13],
                    p.data[12], p.data[11], p.data[10]);
      EXPECT_EQ(Field(lines[i], "gps"), calendar) << name << ": " << lines[i];
      ++checked;
    }
  }
  EXPECT_EQ(checked, 89);  // every 0x8F-AB in the recordings
}

TEST_F(DecodeCommand, ReadsStandardInput) {
  const std::string path = std::string(CLOCKAGENT_CAPTURES_DIR) + "/rx-b-0x8fab.bin";
  const CliResult fromFile = Clockagent("decode '" + path + "'");
  const CliResult fromStdin = Clockagent("decode -", path);
  EXPECT_EQ(fromStdin.exitCode, 0);
  EXPECT_EQ(fromStdin.out, fromFile.out);
  EXPECT_EQ(Lines(fromStdin.out)[0],
            "0x8F-AB len=17 week=2076 tow=239909 offset=18 gps=2019-10-22T18:38:29Z "
            "utc=2019-10-22T18:38:11Z flags=0x00");
}

TEST_F(DecodeCommand, EmptyInputPrintsNothing) {
  const CliResult run = Clockagent("decode -");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
}

TEST_F(DecodeCommand, UnreadableInputIsExitCode2WithOneLine) {
  for (const std::string& path : {dir.path() + "/missing.bin", dir.path()}) {
    const CliResult run = Clockagent("decode '" + path + "'");
    EXPECT_EQ(run.exitCode, 2) << path;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find(path), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("clockagent decode: cannot ", 0), 0u) << run.err;
  }
}

TEST_F(DecodeCommand, HelpAndUsage) {
  CliResult run = Clockagent("decode --help");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out.rfind("Usage: clockagent decode FILE\n", 0), 0u) << run.out;

  run = Clockagent("decode");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(Lines(run.err).size(), 1u);

  run = Clockagent("--help");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("  decode "), std::string::npos);

  run = Clockagent("");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("Usage: clockagent"), std::string::npos);

  run = Clockagent("frobnicate");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "clockagent: unknown command 'frobnicate'; run 'clockagent --help' for the list\n");

  run = Clockagent("--version");
  EXPECT_EQ(run.out, std::string("clockagent ") + kVersionText + "\n");
}

}  // namespace
}  // namespace clockagent::test
