// Running the clockagent tool as a user does.
#include "tests/support/cli_support.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace clockagent::test {

TempDir::TempDir() {
  char pattern[] = "/tmp/clockagent-test-XXXXXX";
  if (mkdtemp(pattern) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

// The fake's state: four words, its change count, the port side's lines, the DCD and CTS counts.
constexpr std::size_t kFakeStateSize = 4 * sizeof(std::uint32_t);

FakeModemLines::FakeModemLines(const std::string& folder) {
  const std::string path = folder + "/modem-lines";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0 && ftruncate(fd, kFakeStateSize) == 0) {
    void* map = mmap(nullptr, kFakeStateSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) state_ = static_cast<std::uint32_t*>(map);
  }
  if (fd >= 0) close(fd);
  setenv("FAKE_MODEM_LINES", path.c_str(), 1);
  setenv("LD_PRELOAD", CLOCKAGENT_FAKE_MODEM_LINES, 1);
  // Under AddressSanitizer the fake comes before its runtime, which it would otherwise refuse.
  setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
}

FakeModemLines::~FakeModemLines() {
  if (state_ != nullptr) munmap(state_, kFakeStateSize);
  unsetenv("LD_PRELOAD");
  unsetenv("FAKE_MODEM_LINES");
  unsetenv("ASAN_OPTIONS");
}

bool FakeModemLines::Dcd() const {
  return state_ != nullptr && (__atomic_load_n(&state_[1], __ATOMIC_SEQ_CST) & TIOCM_CD) != 0;
}

CliResult RunClockagent(const std::string& args, const std::string& stdinPath) {
  TempDir scratch;
  const std::string command = std::string("'") + CLOCKAGENT_CLI + "' " + args + " <'" + stdinPath +
                              "' >'" + scratch.path() + "/out' 2>'" + scratch.path() + "/err'";
  const int status = std::system(command.c_str());
  return CliResult{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(scratch.path() + "/out"),
                   Slurp(scratch.path() + "/err")};
}

BackgroundClockagent::BackgroundClockagent(std::vector<std::string> args,
                                           const std::string& logPath,
                                           const std::string& outPath) {
  args.insert(args.begin(), CLOCKAGENT_CLI);
  pid_ = fork();
  if (pid_ == 0) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (freopen(outPath.empty() ? "/dev/null" : outPath.c_str(), "w", stdout) == nullptr ||
        freopen(logPath.c_str(), "w", stderr) == nullptr) {
      _exit(126);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
}

int BackgroundClockagent::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return status;
}

BackgroundClockagent::~BackgroundClockagent() { Stop(); }

namespace {
std::vector<std::string> SimulateArgs(const std::string& linkPath, std::vector<std::string> args) {
  args.insert(args.begin(), {"simulate", "--link", linkPath});
  return args;
}
}  // namespace

SimulatedReceiver::SimulatedReceiver(const std::string& linkPath, std::vector<std::string> args)
    : logPath_(linkPath + ".log"), process_(SimulateArgs(linkPath, std::move(args)), logPath_) {
  for (int i = 0; i < 300 && process_.running(); ++i) {
    struct stat st {};
    if (stat(linkPath.c_str(), &st) == 0) {
      ready_ = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace clockagent::test
