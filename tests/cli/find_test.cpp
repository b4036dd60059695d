// clockagent find over pseudo-terminals, against simulated receivers fixed to one line each.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

#include "tests/support/cli_support.h"

namespace clockagent::test {
namespace {

TEST(FindTest, NamesEachReceiverWithItsSettingsAndSkipsAPortInUse) {
  TempDir dir;
  const std::string d = dir.path();
  SimulatedReceiver answering(d + "/answering", {"--baud", "4800", "--parity", "odd"});
  SimulatedReceiver broadcasting(d + "/broadcasting", {"--broadcast", "--baud", "19200"});
  SimulatedReceiver silent(d + "/silent", {"--silent"});
  SimulatedReceiver held(d + "/held", {});
  ASSERT_TRUE(answering.ready() && broadcasting.ready() && silent.ready() && held.ready());
  // The other program neither locks the port nor keeps it exclusive, as a terminal program.
  const int holder = open((d + "/held").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);

  const CliResult r = RunClockagent("find --port " + d + "/answering --port " + d +
                                    "/broadcasting --port " + d + "/silent --port " + d + "/held");
  close(holder);

  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> found = Lines(r.out);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{d + "/answering: 4800 baud, 8-O-1, answering with 0x41",
                                             d + "/broadcasting: 19200 baud, 8-N-1, broadcasting 0x8F-AB"}));
  const std::vector<std::string> progress = Lines(r.err);
  for (const std::string& line :
       {"clockagent find: " + d + "/silent: no receiver heard",
        "clockagent find: " + d + "/held: in use by another program, skipped",
        "clockagent find: trying " + d + "/silent at 2400 baud, 8-E-1"}) {
    EXPECT_NE(std::find(progress.begin(), progress.end(), line), progress.end()) << line;
  }
}

TEST(FindTest, ExitsOneWhenNoneIsFoundAndTwoForBadOptions) {
  for (const auto& [args, exitCode, lastError] : std::vector<std::tuple<std::string, int, std::string>>{
           {"--port /nonexistent/tty", 1, "no receiver found"},
           {"--port", 2, "--port needs a value (see 'clockagent find --help')"},
           {"--baud 9600", 2, "unknown option: --baud (see 'clockagent find --help')"}}) {
    const CliResult r = RunClockagent("find " + args);
    EXPECT_EQ(r.exitCode, exitCode) << args;
    EXPECT_EQ(Lines(r.err).back(), "clockagent find: " + lastError) << args;
    EXPECT_EQ(r.out, "") << args;
  }
}

}  // namespace
}  // namespace clockagent::test
