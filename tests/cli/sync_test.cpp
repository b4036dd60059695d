// clockagent sync and run against simulated receivers on ptys, as a user runs them.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <regex>
#include <thread>

#include "receiver/system_serial_port.h"
#include "record/update_record.h"
#include "tests/support/cli_support.h"
#include "tests/support/test_support.h"
#include "update/update_cycle.h"

namespace clockagent::test {
namespace {

const std::vector<std::string> kFixedTime = {"--time", "2036-06-18T11:59:42Z", "--offset", "18"};

class SyncCommand : public ::testing::Test {
 protected:
  void Receiver(std::vector<std::string> args) {
    args.push_back("-v");
    receiver = std::make_unique<SimulatedReceiver>(port, std::move(args));
    ASSERT_TRUE(receiver->ready());
  }
  CliResult Sync(const std::string& options) {
    return RunClockagent("sync --port '" + port + "' " + options);
  }

  TempDir dir;
  std::string port = dir.path() + "/receiver";
  std::unique_ptr<SimulatedReceiver> receiver;
};

TEST_F(SyncCommand, EachAttemptLandsInTheRecordAndAFailedWriteStopsNothing) {
  Receiver(kFixedTime);
  const std::string log = dir.path() + "/updates.csv";
  ASSERT_EQ(Sync("--dry-run --log '" + log + "'").exitCode, 0);
  receiver.reset();  // and one attempt that fails
  ASSERT_EQ(Sync("--dry-run --log '" + log + "'").exitCode, 1);
  const std::string ended = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,)";
  EXPECT_TRUE(std::regex_match(
      Slurp(log),
      std::regex(std::string(kRecordHeader) + "\r\n" + ended +
                 port + R"(,Success,0x41,\+\d+\.\d{6},2036-06-18T11:59:4\d\.\d{3}Z,,packet,)" "\r\n" +
                 ended + port +
                 ",Error - COM Failure,,,,port " + port + ": No such file or directory,,\r\n")))
      << Slurp(log);

  const CliResult unwritable =
      Sync("--dry-run --log '" + dir.path() + "/missing/updates.csv'");
  EXPECT_EQ(unwritable.out, "Error - COM Failure\nport " + port + ": No such file or directory\n");
  EXPECT_EQ(Lines(unwritable.err).size(), 1u);
  EXPECT_NE(unwritable.err.find("cannot write the record"), std::string::npos);
}

TEST_F(SyncCommand, ThePulseTimesThePacketAndALineWithoutOneIsSaid) {
  const FakeModemLines lines(dir.path());
  Receiver({"--broadcast", "--pulse", "dcd"});  // packets 20-80 ms after the pulse
  const std::string log = dir.path() + "/updates.csv";
  const CliResult dcd = Sync("--dry-run --pulse dcd --log '" + log + "'");
  EXPECT_EQ(dcd.exitCode, 0);
  EXPECT_TRUE(std::regex_match(dcd.out, std::regex(R"(Success
time of week: \w{3} [\d:]{8}\.00
clock was 0\.00\d{4} s (ahead|behind)
would set the clock to [-\dT:]{19}\.\d{3}Z \(dry run\)
)"))) << dcd.out << dcd.err;
  const CliResult cts = Sync("--dry-run --pulse cts --log '" + log + "'");
  EXPECT_EQ(cts.exitCode, 0);
  EXPECT_TRUE(std::regex_match(cts.out, std::regex(R"(Success
time of week: \w{3} [\d:]{8}\.00
clock was 0\.0[2-8]\d{4} s ahead
no pulse on CTS within a second: timed by the packet
would set the clock to [-\dT:]{19}\.\d{3}Z \(dry run\)
)"))) << cts.out << cts.err;
  // A driver whose wait no signal ends holds neither the attempt nor the program.
  setenv("FAKE_MODEM_LINES_STUCK", "1", 1);
  const CliResult stuck = Sync("--dry-run --pulse cts");
  unsetenv("FAKE_MODEM_LINES_STUCK");
  EXPECT_EQ(stuck.exitCode, 0) << stuck.out << stuck.err;
  const std::vector<std::string> record = Lines(Slurp(log));
  ASSERT_EQ(record.size(), 3u);
  EXPECT_EQ(record[1].substr(record[1].size() - 8), ",pulse,\r");
  EXPECT_EQ(record[2].substr(record[2].size() - 9), ",packet,\r");
}

TEST_F(SyncCommand, AnNmeaReceiverIsTimedByItsPulseHoweverLateItSpeaks) {
  // Bursts 0.7 s after the pulse: the edge before them gets their second; status V refuses it.
  const FakeModemLines lines(dir.path());
  Receiver({"--protocol", "nmea", "--nmea-delay", "700", "--pulse", "dcd"});
  const CliResult timed = Sync("--protocol nmea --pulse dcd --dry-run --log '" + dir.path() + "/u.csv'");
  EXPECT_EQ(timed.exitCode, 0) << timed.err;
  EXPECT_TRUE(std::regex_search(timed.out, std::regex(R"(^Success\n(.*\n)?clock was 0\.000\d{3} s )")))
      << timed.out;
  EXPECT_NE(Slurp(dir.path() + "/u.csv").find(",Success,NMEA,"), std::string::npos);
  receiver.reset();
  Receiver({"--protocol", "nmea", "--status", "V"});
  EXPECT_TRUE(std::regex_match(Sync("--protocol nmea --dry-run").out, std::regex(R"(Error - Bad Time
receiver: it reports no valid fix
time of week: \w{3} [\d:]{8}\.00
)")));
  receiver.reset();
  Receiver({"--silent"});
  EXPECT_EQ(Lines(Sync("--protocol nmea --dry-run").out),
            (std::vector<std::string>{"Error - DARO Failure", kNoSentenceText}));
}

TEST_F(SyncCommand, AReceiverOfTheTrueTimeLeavesTheClockWhereItIs) {
  // The simulator's packets are true to the bit; its latency, when told, is taken off again.
  const struct {
    std::vector<std::string> receiver;
    const char* sync;
    double lowest, highest;  // the offset the tool finds, in seconds, behind positive
  } cases[] = {
      {{}, "", -0.015, 0.015},
      {{"--broadcast"}, "", -0.015, 0.015},
      {{"--latency", "40"}, "", -0.080, -0.030},  // the program thinks the time 40 ms earlier
      {{"--latency", "40"}, "--latency 40", -0.015, 0.015},
      {{"--broadcast", "--latency", "40"}, "--latency 40", -0.015, 0.015},
  };
  for (const auto& c : cases) {
    receiver.reset();
    Receiver(c.receiver);
    const CliResult run = Sync(std::string("--dry-run ") + c.sync);
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    std::smatch offset;
    ASSERT_TRUE(std::regex_match(lines[2], offset,
                                 std::regex(R"(clock was (\d+\.\d{6}) s (behind|ahead))")))
        << lines[2];
    const double seconds = std::stod(offset[1]) * (offset[2] == "behind" ? 1 : -1);
    EXPECT_GE(seconds, c.lowest) << run.out;
    EXPECT_LE(seconds, c.highest) << run.out;
    EXPECT_TRUE(std::regex_match(
        lines[3], std::regex(R"(would set the clock to \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \(dry run\))")));
  }
}

TEST_F(SyncCommand, NoSuchPortIsAComFailureThatSaysWhy) {
  const CliResult run = Sync("--dry-run");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "Error - COM Failure\nport " + port + ": No such file or directory\n");
  const std::string file = dir.path() + "/file";
  std::ofstream(file) << "not a port";
  EXPECT_EQ(RunClockagent("sync --dry-run --port '" + file + "'").out,
            "Error - COM Failure\nport " + file + ": not a serial port\n");
}

TEST_F(SyncCommand, APortInUseIsAComFailure) {
  Receiver(kFixedTime);
  auto other = NewSystemSerialPort();
  ASSERT_TRUE(other->Open(port.c_str()));
  // Kept out by the port's exclusive mode, or by its lock where the caller may pass the first.
  const std::string out = Sync("--dry-run").out;
  EXPECT_TRUE(std::regex_match(out, std::regex("Error - COM Failure\nport " + port +
                                               ": (Device or resource busy|in use by another "
                                               "program)\n")))
      << out;
  other->Close();
  EXPECT_EQ(Lines(Sync("--dry-run").out).at(0), "Success");
}

TEST_F(SyncCommand, APulseLineOnAPortWithoutModemLinesIsSaid) {
  Receiver(kFixedTime);
  const std::vector<std::string> lines = Lines(Sync("--dry-run --pulse dcd").out);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3],
            "pulse: the port cannot report DCD (Inappropriate ioctl for device): timed by the packet");
}

TEST_F(SyncCommand, WithoutTheRightTheClockIsNotSet) {
  // This process and so the tool lack the right to set the clock (see the clock setter test).
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line) && line.rfind("CapBnd:", 0) != 0) {
  }
  ASSERT_EQ(std::stoull(line.substr(7), nullptr, 16) >> 25 & 1, 0u)
      << "refusing to run: the tool could change this machine's clock";
  Receiver(kFixedTime);
  const CliResult run = Sync("");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(std::regex_match(run.out, std::regex(R"(Error - System Update
time of week: Wed 12:00:0\d\.\d\d
clock was \d+\.\d{6} s behind
could not set the clock to 2036-06-18T11:59:4\d\.\d{3}Z
)"))) << run.out;
}

TEST_F(SyncCommand, BadOptionsAndHelp) {
  for (const char* args : {"", "--port", "--port /dev/null --baud 600", "--port x --parity mark",
                           "--port x --time-type local", "--port x --interval '00 01:00'",
                           "--port x --bogus"}) {
    const CliResult run = RunClockagent(std::string("sync ") + args);
    EXPECT_EQ(run.exitCode, 2) << args;
    EXPECT_EQ(Lines(run.err).size(), 1u) << args << ": " << run.err;
  }
  // An option never takes the next option as its value; nothing is attempted then (an attempt
  // would print its outcome).
  const struct {
    const char* command;
    std::string args;
    const char* err;
  } refused[] = {
      {"sync", "--port '' --dry-run", "--port needs a value"},
      {"sync", "--port x --baud --parity none", "--baud needs a value"},
      {"run", "--port x --interval --dry-run", "--interval needs a value"},
      {"sync", "--port x --latency 1001", "--latency takes whole milliseconds from -1000 to 1000: 1001"},
      {"sync", "--port x --latency 5ms", "--latency takes whole milliseconds from -1000 to 1000: 5ms"},
      {"sync", "--port /dev/tty/" + std::string(251, 'a'), "--port: the name is longer than 259 bytes"},
      {"run", "--interval '00 06:00' --port --time-type utc", "--port needs a value"},
      {"run", "--port x --interval '00 -1:90'", "--interval takes \"dd hh:mm\", such as \"00 06:00\": 00 -1:90"},
      {"run", "--port x --interval '01 -5:00'", "--interval takes \"dd hh:mm\", such as \"00 06:00\": 01 -5:00"},
      {"run", "--port x --interval '0 06:00'", "--interval takes \"dd hh:mm\", such as \"00 06:00\": 0 06:00"},
      {"run", "--port x --interval '00 006:00'", "--interval takes \"dd hh:mm\", such as \"00 06:00\": 00 006:00"},
  };
  for (const auto& r : refused) {
    const CliResult run = RunClockagent(std::string(r.command) + " " + r.args);
    EXPECT_EQ(run.exitCode, 2) << r.args;
    EXPECT_EQ(run.err, std::string("clockagent ") + r.command + ": " + r.err + " (see 'clockagent " +
                           r.command + " --help')\n");
    EXPECT_EQ(run.out, "");
  }
  const CliResult help = RunClockagent("sync --help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--port DEV"), std::string::npos);
  EXPECT_EQ(RunClockagent("run --help").exitCode, 0);
}

class RunCommand : public SyncCommand {
 protected:
  // Starts `clockagent run` in the background with its output in a file.
  void Start(const std::string& options) {
    out = dir.path() + "/run.out";
    const std::string command = std::string("exec '") + CLOCKAGENT_CLI + "' run --port '" + port +
                                "' " + options + " >'" + out + "' 2>&1";
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  // Waits up to `seconds` for `lines` lines of output.
  std::vector<std::string> Output(std::size_t lines, int seconds) {
    for (int i = 0; i < seconds * 20 && Lines(Slurp(out)).size() < lines; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return Lines(Slurp(out));
  }
  int Terminate() {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return status;
  }
  void TearDown() override {
    if (pid > 0) Terminate();
  }

  std::string out;
  pid_t pid = -1;
};

TEST_F(RunCommand, UpdatesAtOnceThenRunsUntilStopped) {
  Receiver(kFixedTime);
  Start("--interval '00 00:01' --dry-run");
  const auto lines = Output(1, 5);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      lines[0],
      std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ Success 1/1 clock was \d+\.\d{6} s behind)")))
      << lines[0];
  const int status = Terminate();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // The port was closed cleanly: another program can have it now.
  auto other = NewSystemSerialPort();
  EXPECT_TRUE(other->Open(port.c_str()));
}

TEST_F(RunCommand, StoppingDuringAnAttemptClosesThePort) {
  Receiver({"--silent"});
  Start("--interval '00 06:00' --dry-run");
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // polling now
  auto other = NewSystemSerialPort();
  EXPECT_FALSE(other->Open(port.c_str()));
  const int status = Terminate();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Slurp(out), "");  // no outcome for the attempt cut short
  EXPECT_TRUE(other->Open(port.c_str()));
}

TEST_F(RunCommand, AZeroIntervalIsRefused) {
  const CliResult run = RunClockagent("run --port /dev/null --interval '00 00:00'");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "clockagent: Error: Interval must be greater than zero.\n");
  const CliResult tooLong = RunClockagent("run --port /dev/null --interval '50 00:00'");
  EXPECT_EQ(tooLong.exitCode, 2);
  EXPECT_NE(tooLong.err.find("49 17:02"), std::string::npos);
}

}  // namespace
}  // namespace clockagent::test
