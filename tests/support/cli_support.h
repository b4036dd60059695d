// Running the clockagent tool as a user does: commands, simulated receivers, scratch folders.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace clockagent::test {

// A fresh folder below /tmp, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct CliResult {
  int exitCode;
  std::string out;
  std::string err;
};

// Runs `clockagent ARGS` (ARGS as shell words) with standard input from `stdinPath`.
CliResult RunClockagent(const std::string& args, const std::string& stdinPath = "/dev/null");

std::string Slurp(const std::string& path);
std::vector<std::string> Lines(const std::string& text);

// `clockagent ARGS...` in the background, its standard output and error in files.
class BackgroundClockagent {
 public:
  // The files are `logPath` (standard error) and, unless `outPath` is empty, `outPath`.
  BackgroundClockagent(std::vector<std::string> args, const std::string& logPath,
                       const std::string& outPath = "");
  ~BackgroundClockagent();  // stops it if still running
  BackgroundClockagent(const BackgroundClockagent&) = delete;
  BackgroundClockagent& operator=(const BackgroundClockagent&) = delete;

  bool running() const { return pid_ > 0; }
  int Stop();  // SIGTERM; the exit status as waitpid gives it

 private:
  pid_t pid_ = -1;
};

// Modem lines for the pseudo-terminals of the programs started while it lives: fake_modem_lines
// preloaded into them, its state in `folder`.
struct FakeModemLines {
  explicit FakeModemLines(const std::string& folder);
  ~FakeModemLines();
  FakeModemLines(const FakeModemLines&) = delete;
  FakeModemLines& operator=(const FakeModemLines&) = delete;

  // The port side's DCD as the receiver last set it, read here where no fake is loaded.
  bool Dcd() const;

 private:
  std::uint32_t* state_ = nullptr;  // the fake's shared words
};

// `clockagent simulate --link PATH ARGS...` in the background, its standard error in a file.
class SimulatedReceiver {
 public:
  SimulatedReceiver(const std::string& linkPath, std::vector<std::string> args);
  SimulatedReceiver(const SimulatedReceiver&) = delete;
  SimulatedReceiver& operator=(const SimulatedReceiver&) = delete;

  bool ready() const { return ready_; }  // its port exists
  int Stop() { return process_.Stop(); }  // SIGTERM; the exit status as waitpid gives it
  std::string Log() const { return Slurp(logPath_); }

 private:
  std::string logPath_;
  BackgroundClockagent process_;
  bool ready_ = false;
};

}  // namespace clockagent::test
