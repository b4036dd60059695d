// The real POSIX clock setter, run without the right to change the clock, and on the virtual clock
// of tests/support/virtual_clock.cpp.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/timex.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/cli_support.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"

namespace clockagent::test {
namespace {

bool MayChangeClock() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) == 0) {
      const unsigned long long effective = std::stoull(line.substr(7), nullptr, 16);
      return (effective >> CAP_SYS_TIME) & 1u;
    }
  }
  return true;  // unknown: assume the worst
}

// Gives up the right to change the clock for the rest of this process.
void DropClockRight() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return;
  data[0].effective &= ~(1u << CAP_SYS_TIME);
  data[0].permitted &= ~(1u << CAP_SYS_TIME);
  data[0].inheritable &= ~(1u << CAP_SYS_TIME);
  syscall(SYS_capset, &header, data);
}

TEST(SystemClockSetter, WithoutTheRightTheClockIsRefused) {
  DropClockRight();
  ASSERT_FALSE(MayChangeClock()) << "refusing to run: this process could change the clock";

  SystemTime time;
  time.wYear = 2003, time.wMonth = 1, time.wDay = 5;
  SystemClockSetter clock;
  errno = 0;
  EXPECT_FALSE(clock.Set(time));
  EXPECT_EQ(errno, EPERM);

  // The whole road of an attempt: an accepted time that the system refuses.
  SystemTime asked;
  EXPECT_EQ(ApplyReceiverTime(725760000, clock, &asked), UpdateOutcome::SystemUpdateFailure);

  errno = 0;
  EXPECT_FALSE(clock.SetRate(10.0));
  EXPECT_EQ(errno, EPERM);
}

TEST(SystemClockSetter, InvalidRecordsAreRefusedBeforeTheSystemIsAsked) {
  DropClockRight();
  ASSERT_FALSE(MayChangeClock());
  SystemTime time;
  time.wYear = 2100, time.wMonth = 2, time.wDay = 29;
  SystemClockSetter clock;
  errno = 0;
  EXPECT_FALSE(clock.Set(time));
  EXPECT_EQ(errno, 0);
}

// The frequency the system had before the setter steered it: 12.25 ppm, as timex.freq.
constexpr long kSystemFreq = 802816;

long VirtualFreq() {
  timex tx{};
  return adjtimex(&tx) == TIME_OK ? tx.freq : -1;
}

// Runs in a copy of this program with the virtual clock preloaded (started by the test below).
void SteerTheVirtualClock() {
  DropClockRight();
  ASSERT_FALSE(MayChangeClock());
  VirtualClockReader reader(std::getenv("VIRTUAL_CLOCK"));
  timex system{};
  system.modes = ADJ_FREQUENCY;
  system.freq = kSystemFreq;
  ASSERT_EQ(adjtimex(&system), TIME_OK);
  ASSERT_TRUE(reader.Open());

  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Row {
    std::vector<std::pair<double, bool>> rates;  // asked, and whether it is kept
    std::uint32_t changes;                       // of the frequency, the release's included
  };
  const Row rows[] = {
      {{{-100.5, true}}, 2},
      {{{500, true}}, 2},
      {{{-500.25, false}}, 0},
      {{{nan, false}}, 0},
      {{{30, true}, {-100.5, true}}, 3},  // handed back as the system had it, not at 30
      {{{30, true}, {600, false}}, 2},
  };
  for (const Row& row : rows) {
    const std::uint32_t changesBefore = reader.State().frequencyChanges.load();
    {
      SystemClockSetter clock;
      long inForce = kSystemFreq;
      for (const auto& [ppm, kept] : row.rates) {
        EXPECT_EQ(clock.SetRate(ppm), kept) << ppm;
        if (kept) inForce = std::lround(ppm * 65536);
        EXPECT_EQ(VirtualFreq(), inForce) << ppm;
      }
    }  // released here
    EXPECT_EQ(VirtualFreq(), kSystemFreq);
    EXPECT_EQ(reader.State().frequencyChanges.load() - changesBefore, row.changes);
  }
  // Released already: nothing more to hand back.
  SystemClockSetter clock;
  ASSERT_TRUE(clock.SetRate(1));
  clock.ReleaseRate();
  const std::uint32_t changes = reader.State().frequencyChanges.load();
  clock.ReleaseRate();
  EXPECT_EQ(reader.State().frequencyChanges.load(), changes);
}

std::string ThisProgram() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return std::string(path, length > 0 ? static_cast<std::size_t>(length) : 0);
}

TEST(SystemClockSetter, TheRateIsSetAloneReadBackAndHandedBack) {
  if (std::getenv("VIRTUAL_CLOCK") != nullptr) return SteerTheVirtualClock();

  TempDir dir;
  const std::string state = dir.path() + "/clock";
  int status = 0;
  {
    const VirtualClockPreload preload(CLOCKAGENT_VIRTUAL_CLOCK, state);
    status = std::system(("'" + ThisProgram() +
                          "' --gtest_filter=SystemClockSetter.TheRateIsSetAloneReadBackAndHandedBack"
                          " >'" + dir.path() + "/log' 2>&1")
                             .c_str());
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(dir.path() + "/log");
  VirtualClockReader reader(state);
  ASSERT_TRUE(reader.Open());
  EXPECT_EQ(reader.State().kernelLoopUses.load(), 0u);
  EXPECT_EQ(reader.State().steps.load(), 0u);
  EXPECT_EQ(reader.Line().freq, kSystemFreq);
}

// clockagent sync, not a dry run, sets the virtual clock from a simulated receiver in one step.
TEST(SystemClockSetter, SyncStepsTheClockOnceToTheReceiversTime) {
  const struct {
    double offsetMs;
    const char* said;
  } rows[] = {
      {-300, R"(clock was 0\.(29|30)\d{4} s behind)"},
      {5000, R"(clock was (4\.99|5\.00)\d{4} s ahead)"},
  };
  for (const auto& row : rows) {
    TempDir dir;
    const SimulatedReceiver receiver(dir.path() + "/receiver", {});  // on the real clock
    ASSERT_TRUE(receiver.ready());
    const std::string state = dir.path() + "/clock";
    CliResult sync;
    {
      const VirtualClockPreload preload(CLOCKAGENT_VIRTUAL_CLOCK, state, 0, row.offsetMs);
      sync = RunClockagent("sync --port '" + dir.path() + "/receiver'");
    }
    EXPECT_EQ(sync.exitCode, 0) << sync.out << sync.err;
    EXPECT_TRUE(std::regex_search(sync.out, std::regex(row.said))) << sync.out;
    VirtualClockReader reader(state);
    ASSERT_TRUE(reader.Open());
    EXPECT_EQ(reader.State().steps.load(), 1u);
    EXPECT_EQ(reader.State().kernelLoopUses.load(), 0u);
    EXPECT_LT(std::abs(reader.ErrorNs()), 1000000) << row.offsetMs;
  }
}

TEST(SystemClockSetter, RunWithTheDisciplineStepsOnceThenHoldsTheClockByItsRate) {
  // A clock 100 ppm fast and 0.3 s behind, timed by the receiver's pulse: the first update steps
  // it and the second sets a rate that cancels the 6 ms it gained meanwhile and its frequency.
  TempDir dir;
  const FakeModemLines lines(dir.path());
  const SimulatedReceiver receiver(dir.path() + "/receiver", {"--broadcast", "--pulse", "dcd"});
  ASSERT_TRUE(receiver.ready());
  const std::string state = dir.path() + "/clock", out = dir.path() + "/run.out";
  VirtualClockPreload preload(CLOCKAGENT_VIRTUAL_CLOCK, state, 100, -300);
  BackgroundClockagent run({"run", "--port", dir.path() + "/receiver", "--interval", "00 00:01",
                            "--pulse", "dcd", "--discipline"},
                           dir.path() + "/run.err", out);
  std::vector<std::string> said;
  for (int waited = 0; waited < 80 && (said = Lines(Slurp(out))).size() < 2; ++waited) sleep(1);
  VirtualClockReader reader(state);
  ASSERT_TRUE(reader.Open());
  const double heldPpm = reader.Line().FreqPpm();
  run.Stop();
  ASSERT_EQ(said.size(), 2u) << Slurp(dir.path() + "/run.err");
  std::smatch first, second;
  ASSERT_TRUE(std::regex_search(said[0], first, std::regex(
      R"(Success 1/1 clock was 0\.(29\d|30\d)\d{3} s behind, stepped; rate (-?\d+\.\d{3}) ppm$)")))
      << said[0];
  ASSERT_TRUE(std::regex_search(said[1], second, std::regex(
      R"(Success 2/2 clock was 0\.(\d{6}) s ahead; rate (-\d+\.\d{3}) ppm$)"))) << said[1];
  EXPECT_NEAR(std::stod(second[1]), 6000, 300) << "microseconds gained in the minute";
  EXPECT_NEAR(std::stod(second[2]), -200, 10) << "the frequency and the 6 ms";
  EXPECT_NEAR(heldPpm, std::stod(second[2]), 0.001);
  EXPECT_EQ(reader.State().steps.load(), 1u);
  EXPECT_EQ(reader.State().kernelLoopUses.load(), 0u);
  EXPECT_EQ(reader.Line().FreqPpm(), 0) << "handed back as the run ends";
}

}  // namespace
}  // namespace clockagent::test
