// clockagent simulate, as the program on the other end of its port meets it.
#include <gtest/gtest.h>

#include <signal.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "receiver/serial_link.h"
#include "receiver/system_serial_port.h"
#include "tests/support/cli_support.h"
#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

double NowUnix() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class SimulatorTest : public ::testing::Test, protected RecordedAttempt {
 protected:
  SimulatorTest() { link->port = port.get(); }

  void TearDown() override {
    CloseLink(*link);
    if (receiver != nullptr) {
      const int status = receiver->Stop();
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "simulator status " << status;
      struct stat st {};
      EXPECT_NE(lstat(portPath.c_str(), &st), 0) << "the link is removed on exit";
    }
  }

  // Starts the simulator with `args` and waits for its port.
  void Start(std::vector<std::string> args) {
    receiver = std::make_unique<SimulatedReceiver>(portPath, std::move(args));
    ASSERT_TRUE(receiver->ready()) << "the simulator made no port";
  }

  // Opens the port as an attempt does, with `settings`, and waits for the timing packet.
  void Attempt(const SerialLineSettings& settings = {}, int polls = 30) {
    ASSERT_EQ(OpenLink(*link, portPath.c_str()), 0);
    PrepareLink(*link, settings);
    sink.reports.clear();
    for (int i = 0; i < polls && sink.reports.empty(); ++i) {
      if (requests) RequestTime(*link);
      ReadLink(*link, [this](ReceiverLink& l) {
        ++packetsSeen;
        DispatchPacket(l, context);
      });
      if (sink.reports.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    CloseLink(*link);
  }

  // The time the last report names, on the simulator's own scale, as seconds since 1970.
  double ReportedUnix() const {
    EXPECT_FALSE(sink.reports.empty());
    return sink.reports.empty() ? 0 : sink.reports.back().receiverTime + kGpsEpochDays * 86400.0;
  }

  TempDir dir;
  std::string portPath = dir.path() + "/receiver";
  std::unique_ptr<SimulatedReceiver> receiver;
  bool requests = true;
  int packetsSeen = 0;
  std::unique_ptr<SerialPort> port = NewSystemSerialPort();
  std::unique_ptr<ReceiverLink> link = std::make_unique<ReceiverLink>();
};

TEST_F(SimulatorTest, AnswersARequestWithTheCurrentGpsTime) {
  Start({});
  const double before = NowUnix();
  Attempt();
  // One answer, or two when a slow machine lets the poll after the first request come first.
  ASSERT_GE(sink.reports.size(), 1u);
  // UTC: the offset of 18 s taken off again.
  EXPECT_GE(ReportedUnix(), before - 1);
  EXPECT_LE(ReportedUnix(), NowUnix());

  context.ActiveTimeType = TimeType::Gps;
  sink.reports.clear();
  Attempt();
  ASSERT_GE(sink.reports.size(), 1u);
  EXPECT_NEAR(ReportedUnix() - 18, NowUnix(), 2.0);
}

TEST_F(SimulatorTest, FixedTimeAndOffset) {
  Start({"--time", "2003-01-08T11:59:47Z", "--offset", "13"});
  Attempt();
  EXPECT_EQ(ReportedTime(), "2003-01-08T11:59:47Z");
  EXPECT_EQ(TimesOfWeek(), std::vector<std::string>{" Wed 12:00:00.00"});
}

TEST_F(SimulatorTest, BroadcastsPacket8FABAtSecondBoundariesWithItsCalendar) {
  Start({"--broadcast"});
  requests = false;
  Attempt({}, 40);
  ASSERT_EQ(sink.reports.size(), 1u);
  EXPECT_NEAR(ReportedUnix(), NowUnix(), 2.0);
  // Whole seconds: the display shows two zero decimals.
  EXPECT_EQ(TimesOfWeek().at(0).substr(13), ".00");
  // The receiver's own calendar bytes agree with its week and time of week.
  const std::uint8_t* d = link->packetBuffer;
  ASSERT_EQ(link->packetLength, 17u);
  EXPECT_EQ(d[9], 0);
  TimingFields f;
  ASSERT_TRUE(ReadPacket8FAB(*link, &f));
  SystemTime gps;
  ASSERT_TRUE(ReceiverTimeToSystemTime(ReceiverTime(f, TimeType::Gps), &gps));
  EXPECT_EQ(gps.wSecond, d[10]);
  EXPECT_EQ(gps.wMinute, d[11]);
  EXPECT_EQ(gps.wHour, d[12]);
  EXPECT_EQ(gps.wDay, d[13]);
  EXPECT_EQ(gps.wMonth, d[14]);
  EXPECT_EQ(gps.wYear, GetU16(d + 15));
}

TEST_F(SimulatorTest, SilentReceiverSendsNothing) {
  Start({"--silent"});
  Attempt({}, 10);
  EXPECT_EQ(packetsSeen, 0);
  EXPECT_TRUE(sink.reports.empty());
}

TEST_F(SimulatorTest, ReceiverWithoutTime) {
  Start({"--no-time"});
  Attempt();
  EXPECT_EQ(TimesOfWeek(), std::vector<std::string>{"<No time yet>"});
  EXPECT_EQ(ReportedTime(), "bad");
}

TEST_F(SimulatorTest, WrongLengthPacketsAreNotAccepted) {
  Start({"--wrong-length"});
  Attempt({}, 8);
  EXPECT_GT(packetsSeen, 0);
  EXPECT_EQ(link->packetLength, 11u);
  EXPECT_TRUE(sink.reports.empty());
}

TEST_F(SimulatorTest, NoiseAndBytesSentOneByOneStillGiveTheTime) {
  Start({"--garbage", "40", "--split", "3", "--time", "2019-10-22T18:38:11Z"});
  Attempt({}, 60);
  EXPECT_EQ(ReportedTime(), "2019-10-22T18:38:11Z");
}

TEST_F(SimulatorTest, MismatchedLineSettingsGiveNoTimeUntilTheyMatch) {
  Start({"--baud", "4800", "--time", "2003-01-08T11:59:47Z"});
  Attempt({}, 8);  // the program at 9600
  EXPECT_TRUE(sink.reports.empty());

  SerialLineSettings at4800;
  at4800.baudRateIndex = 1;
  Attempt(at4800);
  EXPECT_EQ(ReportedTime(), "2003-01-08T11:59:47Z");
}

TEST_F(SimulatorTest, AnswersTakeTheirTimeOnTheLine) {
  Start({"--baud", "2400", "--time", "2003-01-08T11:59:47Z"});
  SerialLineSettings at2400;
  at2400.baudRateIndex = 0;
  ASSERT_EQ(OpenLink(*link, portPath.c_str()), 0);
  PrepareLink(*link, at2400);
  WritePacket(1, &kTimeRequestId, *link);
  const auto sent = std::chrono::steady_clock::now();
  int reads = 0;
  const auto giveUp = sent + std::chrono::seconds(2);
  while (sink.reports.empty() && std::chrono::steady_clock::now() < giveUp) {
    if (link->port->QueuedBytes() > 0) ++reads;
    ReadLink(*link, [this](ReceiverLink& l) { DispatchPacket(l, context); });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
  CloseLink(*link);
  ASSERT_EQ(sink.reports.size(), 1u);
  // The 4 request bytes and the 14 of the answer, ten bit times each at 2400 baud: 75 ms.
  EXPECT_GE(ms, 75.0);
  EXPECT_LT(ms, 500.0);
  EXPECT_GT(reads, 3) << "the answer arrives a few bytes at a time";
}

TEST_F(SimulatorTest, ReplaysARecordingAtTheLineRate) {
  const std::string capture = std::string(CLOCKAGENT_CAPTURES_DIR) + "/rx-c-0x8fab-mixed.bin";
  Start({"--replay", capture, "--baud", "38400"});
  SerialLineSettings at38400;
  at38400.baudRateIndex = 4;
  ASSERT_EQ(OpenLink(*link, portPath.c_str()), 0);
  // The settings alone: an attempt's set-up would drop what arrives meanwhile.
  ASSERT_TRUE(port->SetLineParameters(LineParametersOf(at38400)));
  std::vector<Packet> packets;
  auto expected = std::make_unique<ReceiverLink>();
  const auto recorded = ParsePackets(*expected, ReadCapture("rx-c-0x8fab-mixed.bin"));
  const auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < 100 && packets.size() < recorded.size(); ++i) {
    ReadLink(*link, [&](ReceiverLink& l) {
      packets.push_back(Packet{l.packetId, Bytes(l.packetBuffer, l.packetBuffer + l.packetLength)});
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // What came before the open is purged by it; everything after arrives as recorded.
  ASSERT_GE(packets.size(), recorded.size() * 8 / 10);
  EXPECT_TRUE(std::equal(packets.rbegin(), packets.rend(), recorded.rbegin()));
  EXPECT_GT(seconds, 0.8) << "4459 bytes at 3840 bytes a second";
}

// Every second a burst of sentences naming the pulse's second, its first byte --nmea-delay after
// the edge; whatever the program sends goes unanswered.
TEST_F(SimulatorTest, NmeaSentencesFollowEachPulse) {
  const FakeModemLines lines(dir.path());
  constexpr std::int64_t kRollover = 1024 * 7 * 86400;
  const struct {
    std::vector<std::string> args;
    std::vector<const char*> sentences;  // in order
    const char* talker; int delayMs; bool valid, rightChecksum;
    std::int64_t shift;  // from the edge's second to the one named; the date when --time sets it:
    const char* date;    // ddmmyyyy
  } cases[] = {
      {{}, {"RMC", "GGA"}, "GP", 100, true, true, 0, nullptr},
      {{"--sentences", "ZDA,RMC,GGA", "--talker", "GN", "--nmea-delay", "0"},
       {"ZDA", "RMC", "GGA"}, "GN", 0, true, true, 0, nullptr},
      {{"--status", "V", "--bad-checksum", "--sentences", "GGA,RMC", "--nmea-delay", "500"},
       {"GGA", "RMC"}, "GP", 500, false, false, 0, nullptr},
      {{"--nmea-rollover", "--sentences", "RMC,ZDA", "--nmea-delay", "950"},
       {"RMC", "ZDA"}, "GP", 950, true, true, -kRollover, nullptr},
      {{"--time", "2003-01-08T11:59:47Z", "--sentences", "ZDA,RMC"}, {"ZDA", "RMC"}, "GP", 100,
       true, true, 0, "08012003"},
  };
  const std::map<std::string, std::regex> shapes = {
      {"RMC", std::regex(R"(\$[A-Z]{2}RMC,\d{6}\.\d\d,[AV],\d{4}\.\d{4},[NS],\d{5}\.\d{4},[EW],)"
                         R"(\d+\.\d+,\d+\.\d+,\d{6},,,[ADN]\*[0-9A-F]{2}\r\n)")},
      {"GGA", std::regex(R"(\$[A-Z]{2}GGA,\d{6}\.\d\d,\d{4}\.\d{4},[NS],\d{5}\.\d{4},[EW],[0-8],)"
                         R"(\d\d,\d+\.\d,-?\d+\.\d,M,-?\d+\.\d,M,,\*[0-9A-F]{2}\r\n)")},
      {"ZDA", std::regex(R"(\$[A-Z]{2}ZDA,\d{6}\.\d\d,\d\d,\d\d,\d{4},00,00\*[0-9A-F]{2}\r\n)")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "defaults" : c.args[0]);
    std::vector<std::string> args = {"--protocol", "nmea", "--pulse", "dcd"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    receiver.reset();  // gone with its link, which the next one's would otherwise be taken for
    Start(args);
    const int fd = open(portPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    ASSERT_EQ(write(fd, "\x10\x21\x10\x03", 4), 4);  // a DARO time request, unanswered
    struct Burst { std::string text; double delayMs; std::int64_t second; };
    std::vector<Burst> bursts;  // the first byte's delay after the last rise, the second it marks
    auto rise = std::chrono::steady_clock::time_point{}, last = rise;
    std::int64_t riseSecond = 0;
    bool wasHigh = lines.Dcd();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    while (bursts.size() < 4 && std::chrono::steady_clock::now() < giveUp) {
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, 1);
      const auto now = std::chrono::steady_clock::now();
      const bool high = lines.Dcd();
      if (high && !wasHigh) { rise = now; riseSecond = std::llround(NowUnix()); }
      wasHigh = high;
      char buffer[512];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) continue;
      if (bursts.empty() || now - last > std::chrono::milliseconds(100)) {
        bursts.push_back({"", std::chrono::duration<double, std::milli>(now - rise).count(),
                          riseSecond});
      }
      bursts.back().text.append(buffer, static_cast<std::size_t>(n));
      last = now;
    }
    close(fd);
    ASSERT_EQ(bursts.size(), 4u);
    // The first may have begun before the port was opened; the last may not be over. Of the two
    // between, the nearer must be on time: a loaded machine can wake this reader (or the
    // simulator) late for one, while a wrong delay misses both.
    EXPECT_LT(std::min(std::abs(bursts[1].delayMs - (c.delayMs + 1.04)),
                       std::abs(bursts[2].delayMs - (c.delayMs + 1.04))),
              3.0)
        << "its first byte crosses in 1.04 ms: " << bursts[1].delayMs << ", " << bursts[2].delayMs;
    for (std::size_t b = 1; b < 3; ++b) {
      const Burst& burst = bursts[b];
      std::size_t at = 0;
      for (const char* type : c.sentences) {
        const std::size_t end = burst.text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << burst.text;
        const std::string sentence = burst.text.substr(at, end + 2 - at);
        at = end + 2;
        EXPECT_TRUE(std::regex_match(sentence, shapes.at(type))) << sentence;
        EXPECT_EQ(sentence.substr(1, 5), c.talker + std::string(type));
        EXPECT_LE(sentence.size(), 82u);
        const std::size_t star = sentence.find('*');
        unsigned sum = 0;
        for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(sentence[i]);
        EXPECT_EQ(std::stoul(sentence.substr(star + 1, 2), nullptr, 16) == sum, c.rightChecksum);
        // The second named: the edge's (shifted), or for --time only its date.
        std::vector<std::string> f;
        std::stringstream fields(sentence.substr(0, star));
        for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
        const auto named = static_cast<time_t>(burst.second + c.shift);
        tm utc{};
        gmtime_r(&named, &utc);
        char time[16], ddmmyyyy[16];
        std::strftime(time, sizeof time, "%H%M%S.00", &utc);
        std::strftime(ddmmyyyy, sizeof ddmmyyyy, "%d%m%Y", &utc);
        std::string date = c.date != nullptr ? c.date : ddmmyyyy;
        EXPECT_EQ(f.at(1), c.date != nullptr ? f.at(1) : time) << sentence;
        const std::string kind = type, fix = c.valid ? "A1" : "V0";  // RMC status, GGA quality
        if (kind == "RMC") { EXPECT_EQ(f.at(2) + f.at(9), fix[0] + date.erase(4, 2)); }
        if (kind == "GGA") { EXPECT_EQ(f.at(6), fix.substr(1)); }
        if (kind == "ZDA") { EXPECT_EQ(f.at(2) + f.at(3) + f.at(4), date); }
      }
      EXPECT_EQ(at, burst.text.size()) << "one burst, nothing else: " << burst.text;
    }
    EXPECT_EQ(bursts[2].second, bursts[1].second + 1) << "one burst a second";
  }
}

TEST(SimulateCommand, RefusesBadOptions) {
  for (const char* args : {"--baud 1200", "--offset x", "--time 2003-13-01T00:00:00Z",
                           "--time 1970-01-01T00:00:00Z", "--parity mark", "--frobnicate",
                           "--replay /nonexistent/file", "--tow", "--tow 1x", "--week 65536",
                           "--hangup-after 0", "--dle-storm -1", "--oversize many",
                           "--link --verbose", "--replay --silent", "--protocol nmea --offset 3",
                           "--sentences RMC", "--protocol nmea --talker G", "--protocol nmea "
                           "--sentences RMC,XYZ", "--protocol nmea --nmea-delay 951",
                           "--protocol nmea --status X", "--protocol binary"}) {
    const CliResult run = RunClockagent(std::string("simulate ") + args);
    EXPECT_EQ(run.exitCode, 2) << args;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  }
  EXPECT_EQ(RunClockagent("simulate --link --verbose").err,
            "clockagent simulate: --link needs a value (see 'clockagent simulate --help')\n");
  EXPECT_EQ(RunClockagent("simulate --help").exitCode, 0);
}

TEST(SimulateCommand, LinkReplacesOnlyALinkAnEarlierRunLeft) {
  TempDir dir;
  const std::string path = dir.path() + "/receiver";
  const std::string other = dir.path() + "/other";
  std::ofstream(other) << "someone's";
  // A file, a folder and a link to something else are left as they are.
  const auto refused = [&](const char* what) {
    const CliResult run = RunClockagent("simulate --link '" + path + "'");
    EXPECT_EQ(run.exitCode, 1) << what;
    EXPECT_NE(run.err.find("will not replace " + path), std::string::npos) << run.err;
  };
  ASSERT_EQ(symlink(other.c_str(), path.c_str()), 0);
  refused("a link to a file");
  EXPECT_EQ(Slurp(path), "someone's");
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
  refused("a file");
  EXPECT_EQ(Slurp(path), "someone's");
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  refused("a folder");
  ASSERT_EQ(rmdir(path.c_str()), 0);

  // The link a run killed before it could clean up: replaced, and removed when stopped.
  ASSERT_EQ(symlink("/dev/pts/4095", path.c_str()), 0);
  SimulatedReceiver receiver(path, {});
  ASSERT_TRUE(receiver.ready());
  char target[64] = {};
  ASSERT_GT(readlink(path.c_str(), target, sizeof target - 1), 0);
  EXPECT_STRNE(target, "/dev/pts/4095");
  EXPECT_EQ(receiver.Stop(), 0);
  struct stat st {};
  EXPECT_NE(lstat(path.c_str(), &st), 0);
}

}  // namespace
}  // namespace clockagent::test
