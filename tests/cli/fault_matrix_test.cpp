// Receivers on the line, end to end: a simulated receiver on a real pseudo-terminal answers or
// misbehaves, and `clockagent sync` must end in the one right outcome within the 30 polls of an
// attempt, without spinning.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/cli_support.h"

namespace clockagent::test {
namespace {

// What `sync` prints, as regular expressions. The receivers' clocks run on from their first
// answer, 12:00:00.00 of the week; a second answer confirms a correction that large, and the time
// set is from it.
const char kSuccess[] =
    R"(Success
time of week: Wed 12:00:0\d\.\d\d
clock was \d+\.\d{6} s behind
would set the clock to 2036-06-18T11:59:4\d\.\d{3}Z \(dry run\)
)";
const char kDaroFailure[] = "Error - DARO Failure\n";
const char kBadTime[] =
    "Error - Bad Time\nreceiver: its time is not a date\ntime of week: <Bad time>\n";
const char kNoTimeYet[] =
    "Error - Bad Time\nreceiver: its time is not yet set\ntime of week: <No time yet>\n";

// Each request reaches the simulator whole and is logged as it arrives.
constexpr char kRequestLogged[] = "rx: 10 21 10 03\n";
constexpr int kAllPolls = 30;  // the attempt asks on all its polls and the receiver hears them
constexpr int kUntilAnswered = -1;  // one request a poll until the answer is in: 30 at most

struct Fault {
  const char* name;
  std::vector<std::string> receiver;  // clockagent simulate options
  std::string sync;                   // clockagent sync options beside --dry-run; PORT: its port
  const char* out;  // a regular expression
  int requests;     // requests the receiver hears, or kUntilAnswered
  int exitCode = -1;  // -1: 0 for an output that begins "Success", else 1
  const char* err = "";
};

// A receiver that reports 2036-06-18 11:59:42 UTC, Wednesday 12:00:00 of GPS week 2945.
std::vector<std::string> FixedTime(std::vector<std::string> more) {
  std::vector<std::string> args = {"--time", "2036-06-18T11:59:42Z", "--offset", "18"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

const Fault kFaults[] = {
    {"NoFault", FixedTime({}), "--port PORT", kSuccess, kUntilAnswered},
    // GPS time keeps the receiver's GPS-UTC offset, at the line settings both ends agree on.
    {"GpsTimeAt19200OddTwoStopBits",
     FixedTime({"--baud", "19200", "--parity", "odd", "--stop-bits", "2"}),
     "--port PORT --time-type gps --baud 19200 --parity odd --stop-bits 2",
     R"(Success
time of week: Wed 12:00:0\d\.\d\d
clock was \d+\.\d{6} s behind
would set the clock to 2036-06-18T12:00:0\d\.\d{3}Z \(dry run\)
)", kUntilAnswered},
    {"SilentReceiver", {"--silent"}, "--port PORT", kDaroFailure, kAllPolls},
    // A receiver at 4800 baud hears the requests of a 9600-baud line as noise.
    {"ReceiverAtAnotherRate", {"--baud", "4800"}, "--port PORT", kDaroFailure, 0},
    // Noise fills every pause of a 38400-baud line; the answer is found in it.
    {"NoiseFloodAt38400", FixedTime({"--flood", "--baud", "38400"}), "--port PORT --baud 38400",
     kSuccess, kUntilAnswered},
    // The same flood met at 9600 baud is noise only, and the receiver hears no request.
    {"NoiseFloodAtTheWrongRate", FixedTime({"--flood", "--baud", "38400"}), "--port PORT",
     kDaroFailure, 0},
    // 15 ms between bytes: the answer spans two polls and completes on the second.
    {"BytesOneByOne", FixedTime({"--split", "15"}), "--port PORT", kSuccess, kUntilAnswered},
    {"WrongLengthAnswersOnly", FixedTime({"--wrong-length"}), "--port PORT", kDaroFailure,
     kAllPolls},
    {"WrongLengthBroadcastsOnly", {"--broadcast", "--wrong-length"}, "--port PORT", kDaroFailure,
     kAllPolls},
    {"TimeOfWeekPlusInfinity", {"--tow", "inf"}, "--port PORT", kBadTime, kUntilAnswered},
    {"TimeOfWeekNaN", {"--tow", "nan"}, "--port PORT", kBadTime, kUntilAnswered},
    {"TimeOfWeekLargestSingle", {"--tow", "3.4e38"}, "--port PORT", kBadTime, kUntilAnswered},
    {"TimeOfWeekMinusOneInWeekZero", {"--tow", "-1", "--week", "0", "--offset", "0"},
     "--port PORT", kNoTimeYet, 1},
    // No time yet in a real week: the clock is left alone all the same.
    {"TimeOfWeekMinusOneInWeek2448", {"--tow", "-1", "--week", "2448"}, "--port PORT", kNoTimeYet,
     1},
    // 1000 DLEs are 500 stuffed data bytes, over the packet buffer; the answer's own start
    // still begins a packet.
    {"EvenDleStormBeforeEachAnswer", FixedTime({"--dle-storm", "1000"}), "--port PORT", kSuccess,
     kUntilAnswered},
    // An odd storm leaves a DLE waiting that swallows the answer's start: every answer is lost.
    {"OddDleStormBeforeEachAnswer", FixedTime({"--dle-storm", "999"}), "--port PORT",
     kDaroFailure, kAllPolls},
    // 600 data bytes: the packet buffer overflows and is dropped; the answer after it counts.
    {"OversizePacketBeforeEachAnswer", FixedTime({"--oversize", "600"}), "--port PORT", kSuccess,
     kUntilAnswered},
    {"OversizePacketAt38400", FixedTime({"--oversize", "3000", "--baud", "38400"}),
     "--port PORT --baud 38400", kSuccess, kUntilAnswered},
    // The receiver's side of the line goes away at the third request; the port reads nothing
    // after that and the attempt runs out its polls.
    {"ReceiverHangsUpMidAttempt", {"--silent", "--hangup-after", "3"}, "--port PORT",
     kDaroFailure, 3},
    // A 10-bit week counter: week 1921 is 2945 less 1024.
    {"WeekRolledOverOnce", FixedTime({"--week", "1921"}), "--port PORT",
     R"(Success
time of week: Wed 12:00:0\d\.\d\d
clock was \d+\.\d{6} s behind
week rollover: moved forward 1024 weeks
would set the clock to 2036-06-18T11:59:4\d\.\d{3}Z \(dry run\)
)",
     kUntilAnswered},
    // 2003 is more than 1024 weeks before the release day.
    {"WeekRolledOverTwice", {"--time", "2003-01-08T11:59:47Z", "--offset", "13"}, "--port PORT",
     R"(Success
time of week: Wed 12:00:0\d\.\d\d
clock was \d+\.\d{6} s behind
week rollover: moved forward 2048 weeks
would set the clock to 2042-04-09T11:59:4\d\.\d{3}Z \(dry run\)
)",
     kUntilAnswered},
    // The option before --dry-run takes no value from it: nothing is opened, nothing asked.
    {"AnOptionSwallowsNoOption", FixedTime({}), "--port --dry-run", "", 0, 2,
     "clockagent sync: --port needs a value (see 'clockagent sync --help')\n"},
    // An NMEA receiver gives UTC only.
    {"NmeaIsUtcOnly", FixedTime({}), "--port PORT --protocol nmea --time-type gps", "", 0, 2,
     "clockagent sync: --time-type gps: an NMEA receiver gives UTC only "
     "(see 'clockagent sync --help')\n"},
    // One update has no rate to hold.
    {"OneUpdateIsNotDisciplined", FixedTime({}), "--port PORT --discipline", "", 0, 2,
     "clockagent sync: --discipline holds the clock between updates: it is an option of "
     "'clockagent run', not of one update (see 'clockagent sync --help')\n"},
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
  std::string options = fault.sync;
  const auto at = options.find("PORT");
  if (at != std::string::npos) options.replace(at, 4, "'" + port + "'");
  const CliResult run = RunClockagent("sync --dry-run " + options);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  const double cpu = ChildCpuSeconds() - cpuBefore;

  EXPECT_TRUE(std::regex_match(run.out, std::regex(fault.out))) << run.out;
  const bool success = std::string(fault.out).rfind("Success", 0) == 0;
  EXPECT_EQ(run.exitCode, fault.exitCode >= 0 ? fault.exitCode : success ? 0 : 1);
  EXPECT_EQ(run.err, fault.err);
  const std::string log = receiver.Log();
  const int heard = Count(log, kRequestLogged);
  if (fault.requests == kUntilAnswered) {
    EXPECT_GE(heard, 1) << log;
    EXPECT_LE(heard, 30) << log;
  } else {
    EXPECT_EQ(heard, fault.requests) << log;
  }
  // Thirty polls 200 ms apart, and the port's set-up.
  EXPECT_LT(took.count(), 30 * 0.2 + 0.5);
  // Waiting is sleeping: the whole attempt costs far less processor time than it lasts.
  EXPECT_LT(cpu, 0.75) << "seconds of processor time in " << took.count() << " s";
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace clockagent::test
