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
  SimulatedReceiver nmea(d + "/nmea", {"--protocol", "nmea", "--baud", "4800"});
  SimulatedReceiver silent(d + "/silent", {"--silent"});
  SimulatedReceiver held(d + "/held", {});
  ASSERT_TRUE(answering.ready() && broadcasting.ready() && nmea.ready() && silent.ready() &&
              held.ready());
  // The other program neither locks the port nor keeps it exclusive, as a terminal program.
  const int holder = open((d + "/held").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);

  const CliResult r = RunClockagent("find --port " + d + "/answering --port " + d +
                                    "/broadcasting --port " + d + "/nmea --port " + d +
                                    "/silent --port " + d + "/held");
  close(holder);

  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> found = Lines(r.out);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{d + "/answering: 4800 baud, 8-O-1, answering with 0x41",
                                             d + "/broadcasting: 19200 baud, 8-N-1, broadcasting 0x8F-AB",
                                             d + "/nmea: 4800 baud, 8-N-1, NMEA (RMC, GGA)"}));
  const std::vector<std::string> progress = Lines(r.err);
  for (const std::string& line :
       {"clockagent find: " + d + "/silent: no receiver heard",
        "clockagent find: " + d + "/held: in use by another program, skipped",
        "clockagent find: trying " + d + "/silent at 2400 baud, 8-E-1",
        "clockagent find: trying " + d + "/silent at 38400 baud, 8-N-1, NMEA"}) {
    EXPECT_NE(std::find(progress.begin(), progress.end(), line), progress.end()) << line;
  }
}

TEST(FindTest, ProtocolLimitsTheTrialsToItsOwn) {
  TempDir dir;
  const std::string d = dir.path();
  SimulatedReceiver daro(d + "/daro", {"--baud", "4800"});
  SimulatedReceiver nmea(d + "/nmea", {"--protocol", "nmea", "--baud", "38400", "--sentences",
                                       "ZDA,RMC"});
  ASSERT_TRUE(daro.ready() && nmea.ready());

  const CliResult r = RunClockagent("find --protocol nmea --port " + d + "/daro --port " + d + "/nmea");

  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out), std::vector<std::string>{d + "/nmea: 38400 baud, 8-N-1, NMEA (ZDA, RMC)"});
  const std::vector<std::string> progress = Lines(r.err);
  EXPECT_EQ(std::count_if(progress.begin(), progress.end(),
                          [&](const std::string& line) {
                            return line.rfind("clockagent find: trying " + d + "/daro at ", 0) == 0;
                          }),
            4);
  EXPECT_NE(std::find(progress.begin(), progress.end(), "clockagent find: " + d + "/daro: no receiver heard"),
            progress.end());
}

TEST(FindTest, ExitsOneWhenNoneIsFoundAndTwoForBadOptions) {
  for (const auto& [args, exitCode, lastError] : std::vector<std::tuple<std::string, int, std::string>>{
           {"--port /nonexistent/tty", 1, "no receiver found"},
           {"--port", 2, "--port needs a value (see 'clockagent find --help')"},
           {"--baud 9600", 2, "unknown option: --baud (see 'clockagent find --help')"},
           {"--protocol ubx", 2, "--protocol takes daro or nmea: ubx (see 'clockagent find --help')"}}) {
    const CliResult r = RunClockagent("find " + args);
    EXPECT_EQ(r.exitCode, exitCode) << args;
    EXPECT_EQ(Lines(r.err).back(), "clockagent find: " + lastError) << args;
    EXPECT_EQ(r.out, "") << args;
  }
}

}  // namespace
}  // namespace clockagent::test
