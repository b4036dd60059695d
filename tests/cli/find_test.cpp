// clockagent find over pseudo-terminals, against simulated receivers fixed to one line each.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "receiver/system_serial_port.h"
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
  const auto holder = NewSystemSerialPort();  // the other program
  ASSERT_TRUE(holder->Open((d + "/held").c_str()));

  const auto began = std::chrono::steady_clock::now();
  const CliResult r = RunClockagent("find --port " + d + "/answering --port " + d +
                                    "/broadcasting --port " + d + "/silent --port " + d + "/held");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("four ports, two receivers, one silent, one in use: searched in %.1f s\n", seconds);
  holder->Close();

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
    EXPECT_NE(std::find(progress.begin(), progress.end(), line), progress.end()) << line << "\n"
                                                                                 << r.err;
  }
}

struct Outcome {
  const char* args;
  int exitCode;
  const char* lastError;
};

TEST(FindTest, ExitsOneWhenNoneIsFoundAndTwoForBadOptions) {
  for (const Outcome& o : {
           Outcome{"find --port /nonexistent/tty",
                   1, "clockagent find: no receiver found"},
           Outcome{"find --port", 2,
                   "clockagent find: --port needs a value (see 'clockagent find --help')"},
           Outcome{"find --baud 9600", 2,
                   "clockagent find: unknown option: --baud (see 'clockagent find --help')"},
       }) {
    const CliResult r = RunClockagent(o.args);
    EXPECT_EQ(r.exitCode, o.exitCode) << o.args;
    EXPECT_EQ(Lines(r.err).back(), o.lastError) << o.args;
    EXPECT_EQ(r.out, "") << o.args;
  }
}

}  // namespace
}  // namespace clockagent::test
