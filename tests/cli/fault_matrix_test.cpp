// Faults on the line, end to end: a simulated receiver on a real pseudo-terminal misbehaves, and
// `clockagent sync` must end in the one right outcome within the 30 polls of an attempt, without
// spinning.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/cli_support.h"

namespace clockagent::test {
namespace {

const char kSuccess[] =
    "Success\n"
    "time of week: Wed 12:00:00.00\n"
    "would set the clock to 2003-01-08T11:59:47Z (dry run)\n";
const char kDaroFailure[] = "Error - DARO Failure\n";
const char kBadTime[] = "Error - Bad Time\ntime of week: <Bad time>\n";

// Each request reaches the simulator whole and is logged as it arrives.
constexpr char kRequestLogged[] = "rx: 10 21 10 03\n";
constexpr int kAllPolls = 30;  // the attempt asks on all its polls and the receiver hears them
constexpr int kUntilAnswered = -1;  // one request a poll until the answer is in: 30 at most

struct Fault {
  const char* name;
  std::vector<std::string> receiver;  // clockagent simulate options
  std::string sync;                   // clockagent sync options beside --port and --dry-run
  const char* out;
  int requests;  // requests the receiver hears, or kUntilAnswered
};

std::vector<std::string> FixedTime(std::vector<std::string> more) {
  std::vector<std::string> args = {"--time", "2003-01-08T11:59:47Z", "--offset", "13"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

const Fault kFaults[] = {
    // Noise fills every pause of a 38400-baud line; the answer is found in it.
    {"NoiseFloodAt38400", FixedTime({"--flood", "--baud", "38400"}), "--baud 38400", kSuccess,
     kUntilAnswered},
    // The same flood met at 9600 baud is noise only, and the receiver hears no request.
    {"NoiseFloodAtTheWrongRate", FixedTime({"--flood", "--baud", "38400"}), "", kDaroFailure, 0},
    // 15 ms between bytes: the answer spans two polls and completes on the second.
    {"BytesOneByOne", FixedTime({"--split", "15"}), "", kSuccess, kUntilAnswered},
    {"WrongLengthAnswersOnly", FixedTime({"--wrong-length"}), "", kDaroFailure, kAllPolls},
    {"WrongLengthBroadcastsOnly", {"--broadcast", "--wrong-length"}, "", kDaroFailure, kAllPolls},
    {"TimeOfWeekPlusInfinity", {"--tow", "inf"}, "", kBadTime, kUntilAnswered},
    {"TimeOfWeekNaN", {"--tow", "nan"}, "", kBadTime, kUntilAnswered},
    {"TimeOfWeekLargestSingle", {"--tow", "3.4e38"}, "", kBadTime, kUntilAnswered},
    {"TimeOfWeekMinusOneInWeekZero",
     {"--tow", "-1", "--week", "0", "--offset", "0"},
     "",
     "Error - Bad Time\ntime of week: <No time yet>\n",
     1},
    // 1000 DLEs are 500 stuffed data bytes, over the packet buffer; the answer's own start
    // still begins a packet.
    {"EvenDleStormBeforeEachAnswer", FixedTime({"--dle-storm", "1000"}), "", kSuccess,
     kUntilAnswered},
    // An odd storm leaves a DLE waiting that swallows the answer's start: every answer is lost.
    {"OddDleStormBeforeEachAnswer", FixedTime({"--dle-storm", "999"}), "", kDaroFailure,
     kAllPolls},
    // 600 data bytes: the packet buffer overflows and is dropped; the answer after it counts.
    {"OversizePacketBeforeEachAnswer", FixedTime({"--oversize", "600"}), "", kSuccess,
     kUntilAnswered},
    {"OversizePacketAt38400", FixedTime({"--oversize", "3000", "--baud", "38400"}), "--baud 38400",
     kSuccess, kUntilAnswered},
    // The receiver's side of the line goes away at the third request; the port reads nothing
    // after that and the attempt runs out its polls.
    {"ReceiverHangsUpMidAttempt", {"--silent", "--hangup-after", "3"}, "", kDaroFailure, 3},
};

double ChildCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class FaultMatrix : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultMatrix, EndsInItsOutcomeWithin30Polls) {
  const Fault& fault = GetParam();
  TempDir dir;
  const std::string port = dir.path() + "/receiver";
  std::vector<std::string> args = fault.receiver;
  args.push_back("-v");
  SimulatedReceiver receiver(port, args);
  ASSERT_TRUE(receiver.ready());

  const double cpuBefore = ChildCpuSeconds();
  const auto began = std::chrono::steady_clock::now();
  const CliResult run = RunClockagent("sync --dry-run --port '" + port + "' " + fault.sync);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  const double cpu = ChildCpuSeconds() - cpuBefore;

  EXPECT_EQ(run.out, fault.out);
  EXPECT_EQ(run.exitCode, std::string(fault.out) == kSuccess ? 0 : 1);
  EXPECT_EQ(run.err, "");
  const std::string log = receiver.Log();
  const int heard = Count(log, kRequestLogged);
  if (fault.requests == kUntilAnswered) {
    EXPECT_GE(heard, 1) << log;
    EXPECT_LE(heard, 30) << log;
  } else {
    EXPECT_EQ(heard, fault.requests) << log;
  }
  // Thirty polls 200 ms apart, each with its 25 ms pause after the request, and the port's set-up.
  EXPECT_LT(took.count(), 30 * 0.225 + 0.5);
  // Waiting is sleeping: the whole attempt costs far less processor time than it lasts.
  EXPECT_LT(cpu, 0.75) << "seconds of processor time in " << took.count() << " s";
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace clockagent::test
