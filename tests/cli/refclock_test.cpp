// clockagent refclock against simulated receivers, with this test as the time daemon: a socket
// where chronyd's would be. (scripts/chrony-test.sh feeds a real chronyd through both interfaces.)
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <regex>
#include <thread>

#include "refclock/refclock_outputs.h"
#include "tests/support/cli_support.h"

namespace clockagent::test {
namespace {

using Clock = std::chrono::steady_clock;

double NowUnix() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A socket where chronyd would make its own, collecting what arrives.
class SampleSocket {
 public:
  explicit SampleSocket(const std::string& path)
      : path_(path), fd_(socket(AF_UNIX, SOCK_DGRAM, 0)) {
    unlink(path.c_str());  // an earlier one's, as chronyd does
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    bound_ = bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~SampleSocket() {
    close(fd_);
    unlink(path_.c_str());
  }
  bool bound() const { return bound_; }

  // The datagrams that arrive until there are `count` of them or `within` has passed.
  std::vector<std::vector<std::uint8_t>> Receive(std::size_t count, std::chrono::milliseconds within) {
    std::vector<std::vector<std::uint8_t>> datagrams;
    const auto end = Clock::now() + within;
    while (datagrams.size() < count && Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      std::vector<std::uint8_t> bytes(256);
      const ssize_t n = recv(fd_, bytes.data(), bytes.size(), 0);
      if (n < 0) break;
      bytes.resize(static_cast<std::size_t>(n));
      datagrams.push_back(bytes);
    }
    return datagrams;
  }

 private:
  std::string path_;
  int fd_;
  bool bound_ = false;
};

SockSample Decode(const std::vector<std::uint8_t>& datagram) {
  SockSample sample{};
  std::memcpy(&sample, datagram.data(), std::min(datagram.size(), sizeof sample));
  return sample;
}

class RefclockCommand : public ::testing::Test {
 protected:
  void TearDown() override {
    if (refclock != nullptr) {
      const int status = refclock->Stop();
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "refclock status " << status;
    }
  }

  void Receiver(std::vector<std::string> args) {
    receiver = std::make_unique<SimulatedReceiver>(port, std::move(args));
    ASSERT_TRUE(receiver->ready());
  }
  void Refclock(std::vector<std::string> args) {
    args.insert(args.begin(), {"refclock", "--port", port});
    refclock = std::make_unique<BackgroundClockagent>(args, dir.path() + "/refclock.err",
                                                      dir.path() + "/refclock.out");
  }
  std::vector<std::string> Status() const { return Lines(Slurp(dir.path() + "/refclock.out")); }
  std::vector<std::string> Errors() const { return Lines(Slurp(dir.path() + "/refclock.err")); }
  // Waits at most `within` for the status line number `line` (from 0) to end with `text`.
  // Whether status line `line` ends with `text`, or with `orLater`, any line from it on; `*found`
  // is the line that does.
  bool WaitForStatus(std::size_t line, const std::string& text, std::chrono::milliseconds within,
                     bool orLater = false, std::size_t* found = nullptr) {
    const auto end = Clock::now() + within;
    do {
      const auto lines = Status();
      for (std::size_t i = line; i < lines.size() && (i == line || orLater); ++i) {
        if (lines[i].size() >= text.size() &&
            lines[i].compare(lines[i].size() - text.size(), text.size(), text) == 0) {
          if (found != nullptr) *found = i;
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (Clock::now() < end);
    return false;
  }

  TempDir dir;
  std::string port = dir.path() + "/receiver";
  std::string socketPath = dir.path() + "/chrony.sock";
  std::unique_ptr<SimulatedReceiver> receiver;
  std::unique_ptr<BackgroundClockagent> refclock;
};

TEST_F(RefclockCommand, BadOptions) {
  const std::string longPath(108, 'x');
  const struct {
    std::string args;
    const char* message;
  } cases[] = {
      {"--shm 2", "--port is required"},
      {"--port /dev/ttyS0", "give at least one output, --sock PATH or --shm UNIT"},
      {"--port /dev/ttyS0 --shm 256", "--shm takes a unit from 0 to 255: 256"},
      {"--port /dev/ttyS0 --shm 2x", "--shm takes a unit from 0 to 255: 2x"},
      {"--port /dev/ttyS0 --sock --shm 2", "--sock needs a value"},
      {"--port /dev/ttyS0 --sock /tmp/" + longPath, "--sock takes a path of at most 107 bytes"},
      {"--port /dev/ttyS0 --shm 2 --baud 1200", "--baud takes 2400, 4800, 9600, 19200 or 38400"},
      {"--port /dev/ttyS0 --shm 2 --dry-run", "unknown option: --dry-run"},
      {"--port /dev/ttyS0 --shm 2 --protocol nmea --time-type gps",
       "--time-type gps: an NMEA receiver gives UTC only"},
  };
  for (const auto& c : cases) {
    const CliResult run = RunClockagent("refclock " + c.args);
    EXPECT_EQ(run.exitCode, 2) << c.args;
    EXPECT_NE(run.err.find(std::string("clockagent refclock: ") + c.message), std::string::npos)
        << c.args << "\n" << run.err;
    EXPECT_EQ(run.out, "") << c.args;
  }
}

TEST_F(RefclockCommand, EachTimingPacketIsASample) {
  const struct {
    std::vector<std::string> receiver;
    std::vector<std::string> refclock;
    const char* state;
    double lowest, highest;  // the offsets, in seconds: the simulator is true to the bit
  } cases[] = {
      {{}, {}, "receiving 0x41 answers from ", -0.015, 0.015},
      {{"--broadcast"}, {}, "receiving 0x8F-AB broadcasts from ", -0.015, 0.015},
      {{"--broadcast", "--latency", "40"}, {"--latency", "40"},
       "receiving 0x8F-AB broadcasts from ", -0.015, 0.015},
      // Sent 40 ms late, and not told: the receiver's time seems 40 ms behind.
      {{"--latency", "40"}, {}, "receiving 0x41 answers from ", -0.060, -0.025},
      // Sent 20-80 ms after the pulse on DTR, wired to DCD: what the packet timed would be off.
      {{"--broadcast", "--pulse", "dcd"}, {"--pulse", "dcd"}, "receiving 0x8F-AB broadcasts from ",
       -0.015, 0.015},
      // An NMEA receiver speaking 0.6 s after its pulse: the edge before each burst is its second.
      {{"--protocol", "nmea", "--nmea-delay", "600", "--pulse", "dcd"},
       {"--pulse", "dcd", "--protocol", "nmea"}, "receiving NMEA sentences from ", -0.015, 0.015},
  };
  const FakeModemLines modemLines(dir.path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state + std::string(c.refclock.empty() ? "" : " with ") +
                 (c.refclock.empty() ? "" : c.refclock[0]));
    refclock.reset();
    receiver.reset();
    Receiver(c.receiver);
    SampleSocket daemon(socketPath);
    ASSERT_TRUE(daemon.bound());
    std::vector<std::string> args = {"--sock", socketPath};
    args.insert(args.end(), c.refclock.begin(), c.refclock.end());
    Refclock(args);

    const auto datagrams = daemon.Receive(2, std::chrono::milliseconds(4000));
    const double now = NowUnix();
    ASSERT_EQ(datagrams.size(), 2u);
    double previous = 0;
    for (const auto& datagram : datagrams) {
      ASSERT_EQ(datagram.size(), 40u);
      const SockSample s = Decode(datagram);
      const double at = static_cast<double>(s.tv.tv_sec) + static_cast<double>(s.tv.tv_usec) * 1e-6;
      EXPECT_EQ(s.magic, kSockMagic);
      EXPECT_EQ(s.pulse, 0);
      EXPECT_EQ(s.leap, 0);
      EXPECT_NEAR(at, now, 2.5) << "stamped on the system clock";
      EXPECT_GE(s.offset, c.lowest);
      EXPECT_LE(s.offset, c.highest);
      if (previous > 0) {
        EXPECT_NEAR(at - previous, 1.0, 0.1) << "a packet a second";
      }
      previous = at;
    }

    // On a loaded machine a packet read too late to be stamped gives no sample and a line of its
    // own before the one awaited.
    const bool pulse = !c.refclock.empty() && c.refclock[0] == "--pulse";
    std::size_t found = 0;
    ASSERT_TRUE(WaitForStatus(1, c.state + port + (pulse ? ", timed by the pulse on DCD" : ""),
                              std::chrono::milliseconds(1000), true, &found))
        << ::testing::PrintToString(Status());
    const auto lines = Status();
    EXPECT_NE(lines[0].find(" samples 0, last offset none, waiting for timing packets from " + port),
              std::string::npos)
        << lines[0];
    // One sample or two: the line is written at the tick after the first, a second apart as well.
    EXPECT_TRUE(std::regex_search(lines[found], std::regex(" samples [12], last offset [-+]")))
        << lines[found];
    EXPECT_EQ(Errors(), std::vector<std::string>{});
  }
}

TEST_F(RefclockCommand, NoSampleFromAReceiverThatDoesNotVouchForItsTime) {
  Receiver({"--broadcast", "--flags", "16"});
  SampleSocket daemon(socketPath);
  ASSERT_TRUE(daemon.bound());
  Refclock({"--sock", socketPath});
  ASSERT_TRUE(WaitForStatus(1, "the receiver on " + port + " has no usable time (receiver: its "
                            "time was entered by hand, not taken from GPS)",
                            std::chrono::milliseconds(3000)));
  EXPECT_NE(Status()[1].find(" samples 0, last offset none, "), std::string::npos);
  EXPECT_EQ(daemon.Receive(1, std::chrono::milliseconds(1500)).size(), 0u);
}

TEST_F(RefclockCommand, AReceiverThatGoesAwayIsTriedAgainWithALineAtEachChange) {
  SampleSocket daemon(socketPath);
  ASSERT_TRUE(daemon.bound());
  Receiver({});
  Refclock({"--sock", socketPath});
  ASSERT_TRUE(WaitForStatus(1, "receiving 0x41 answers from " + port,
                            std::chrono::milliseconds(3000)));
  receiver->Stop();  // its port is gone with it
  ASSERT_TRUE(WaitForStatus(2, "no timing packet from " + port +
                                   " for 5 s or more, opening it anew every 10 s",
                            std::chrono::milliseconds(7000)));
  ASSERT_TRUE(WaitForStatus(
      3, "cannot open " + port + " (No such file or directory), trying again each second",
      std::chrono::milliseconds(7000)));
  Receiver({});
  ASSERT_TRUE(WaitForStatus(5, "receiving 0x41 answers from " + port,
                            std::chrono::milliseconds(4000)));
  const auto lines = Status();
  ASSERT_EQ(lines.size(), 6u) << "a line at each change, no more";
  EXPECT_NE(lines[4].find("waiting for timing packets from " + port), std::string::npos)
      << lines[4];
  EXPECT_GE(daemon.Receive(1, std::chrono::milliseconds(2000)).size(), 1u)
      << "samples again after the receiver's return";
  EXPECT_EQ(Errors(), std::vector<std::string>{});
}

TEST_F(RefclockCommand, AMissingSocketIsToldOnceAndTriedEachSecond) {
  Receiver({"--broadcast"});
  Refclock({"--sock", socketPath, "--quiet"});
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));  // three samples or so
  const std::vector<std::string> missing = {
      "clockagent refclock: cannot reach chronyd's socket " + socketPath +
      ": No such file or directory; trying again each second"};
  EXPECT_EQ(Errors(), missing);

  SampleSocket daemon(socketPath);  // chronyd has started
  ASSERT_TRUE(daemon.bound());
  EXPECT_EQ(daemon.Receive(2, std::chrono::milliseconds(3500)).size(), 2u);
  std::vector<std::string> told = missing;
  told.push_back("clockagent refclock: chronyd's socket " + socketPath + " takes samples again");
  EXPECT_EQ(Errors(), told);
  EXPECT_EQ(Status(), std::vector<std::string>{}) << "--quiet";
}

}  // namespace
}  // namespace clockagent::test
