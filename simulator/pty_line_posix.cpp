// The simulated receiver's pseudo-terminal on POSIX.
#include "simulator/pty_line_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace clockagent {
namespace {

volatile sig_atomic_t g_stop = 0;
void OnStopSignal(int) { g_stop = 1; }

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

// Where a symbolic link at `path` points; empty when there is none.
std::string LinkTarget(const std::string& path) {
  char target[4096];
  const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  if (n <= 0) return "";
  return std::string(target, static_cast<std::size_t>(n));
}

// What a simulator links to: the pseudo-terminal it made.
bool IsPseudoTerminalLink(const std::string& path) {
  return LinkTarget(path).rfind("/dev/pts/", 0) == 0;
}

timespec Timespec(ReceiverModel::Duration wait) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
  timespec t{};
  t.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
  t.tv_nsec = static_cast<long>(ns % kNsPerSecond);
  return t;
}

}  // namespace

PtyLine::~PtyLine() {
  if (hold_ >= 0) close(hold_);
  if (master_ >= 0) close(master_);
}

bool PtyLine::Open(std::string* error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    *error = Failure("cannot make a pseudo-terminal");
    return false;
  }
  port_ = ptsname(master_);
  // Hold the port side open: the line stays up between the program's opens, and its settings
  // are raw from the first byte on. (A search does not count it as a user of the port: this
  // process holds the pseudo-terminal's master, as a device is the other end of its port.)
  hold_ = open(port_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  if (hold_ < 0 || tcgetattr(hold_, &t) != 0) {
    *error = Failure("cannot open " + port_);
    return false;
  }
  cfmakeraw(&t);
  cfsetspeed(&t, kLineParametersAtOpen.baudRate);  // the rate the program opens a port at
  tcsetattr(hold_, TCSANOW, &t);
  // The pulse line starts low, as a receiver's does at power-up, whatever a run before left.
  if (o_.pulse != PulseLine::None) SetPulseLine(false);
  if (!o_.link.empty() && !MakeLink(error)) return false;

  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // The pulse's edges and the packets' bytes leave on their microsecond, not the kernel's
  // default 50 us of slack later.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  return true;
}

bool PtyLine::MakeLink(std::string* error) {
  struct stat existing {};
  if (lstat(o_.link.c_str(), &existing) == 0) {
    if (!IsPseudoTerminalLink(o_.link)) {
      *error = "will not replace " + o_.link +
               ": it is not a link to a pseudo-terminal left by an earlier run (remove it or "
               "choose another path)";
      return false;
    }
    unlink(o_.link.c_str());  // an earlier run's, left behind
  }
  if (symlink(port_.c_str(), o_.link.c_str()) != 0) {
    *error = Failure("cannot link " + o_.link);
    return false;
  }
  return true;
}

void PtyLine::Serve(ReceiverModel& receiver) {
  while (!g_stop && !receiver.HungUp()) {
    receiver.Turn();
    pollfd p{master_, POLLIN, 0};
    const timespec timeout = Timespec(receiver.Wait());
    if (ppoll(&p, 1, &timeout, nullptr) > 0 && (p.revents & POLLIN)) {
      std::uint8_t buffer[4096];
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got > 0) receiver.Receive(buffer, static_cast<std::size_t>(got));
    }
  }
  // Unless something else has taken its place meanwhile.
  if (!o_.link.empty() && LinkTarget(o_.link) == port_) unlink(o_.link.c_str());
  close(hold_);
  close(master_);
  hold_ = master_ = -1;
  while (!g_stop) poll(nullptr, 0, 100);
}

// Stop bits are not compared: a UART checks only the first, so one stop bit reads a line that
// sends two, and two sent are one and some idle time to a reader of one.
bool PtyLine::SettingsMatch() {
  termios t{};
  if (tcgetattr(master_, &t) != 0) return true;
  termios mine{};
  cfsetspeed(&mine, o_.line.baudRate);  // glibc takes the rate in bits per second too
  const bool odd = (t.c_cflag & PARODD) != 0;
  return cfgetospeed(&t) == cfgetospeed(&mine) && odd == (o_.line.parity == kOddParity);
}

void PtyLine::Transmit(const std::uint8_t* bytes, std::size_t n) {
  [[maybe_unused]] const ssize_t written = write(master_, bytes, n);
}

void PtyLine::SetPulseLine(bool high) {
  int bits = o_.pulse == PulseLine::Dcd ? TIOCM_DTR : TIOCM_RTS;
  ioctl(master_, high ? TIOCMBIS : TIOCMBIC, &bits);
}

}  // namespace clockagent
