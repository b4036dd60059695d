// The serial port on POSIX systems: a tty device opened exclusively, raw, non-blocking.
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "receiver/system_serial_port.h"

namespace clockagent {
namespace {

OpenFailure FailureOf(int error) {
  switch (error) {
    case EBUSY:
    case EWOULDBLOCK:  // the lock of another serial program
      return OpenFailure::InUse;
    case EACCES:
    case EPERM:
      return OpenFailure::Denied;
    default:  // ENOENT, ENXIO, ENODEV, EIO (a ttyS with no UART behind it), not a terminal
      return OpenFailure::NoPort;
  }
}

// Whether the process whose open files `files` lists holds the master of pseudo-terminal `index`:
// Linux tells a master's index in its fdinfo.
bool HoldsPtyMaster(DIR* files, long pid, unsigned index) {
  rewinddir(files);
  while (const dirent* const file = ::readdir(files)) {
    char target[32] = {};
    if (file->d_name[0] == '.' ||
        ::readlinkat(::dirfd(files), file->d_name, target, sizeof target - 1) <= 0 ||
        (std::strcmp(target, "/dev/ptmx") != 0 && std::strcmp(target, "/dev/pts/ptmx") != 0)) {
      continue;
    }
    char name[320];
    std::snprintf(name, sizeof name, "/proc/%ld/fdinfo/%s", pid, file->d_name);
    std::FILE* info = std::fopen(name, "re");
    if (info == nullptr) continue;
    char line[128];
    unsigned seen = ~0u;
    while (std::fgets(line, sizeof line, info) != nullptr) {
      if (std::sscanf(line, "tty-index: %u", &seen) == 1) break;
    }
    std::fclose(info);
    if (seen == index) return true;
  }
  return false;
}

// Whether a process other than this one has the device `path` open. Programs that neither lock
// a port nor keep it exclusive (a terminal program, a getty, a printer host) are seen only this
// way: Linux lists each process's open files under /proc/PID/fd. Processes whose files this user
// may not see are not counted, nor is the one that holds a pseudo-terminal's master: it is the
// device at the other end of the port, not another user of it.
bool OpenElsewhere(const char* path) {
  struct stat device {};
  DIR* const proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  if (::stat(path, &device) != 0 || !S_ISCHR(device.st_mode)) {
    ::closedir(proc);
    return false;
  }
  // Unix98 pseudo-terminals' port sides have majors 136 to 143.
  const bool pty = major(device.st_rdev) >= 136 && major(device.st_rdev) <= 143;
  const unsigned ptyIndex = (major(device.st_rdev) - 136) * 256 + minor(device.st_rdev);
  const long self = static_cast<long>(::getpid());
  bool found = false;
  while (!found) {
    const dirent* const process = ::readdir(proc);
    if (process == nullptr) break;
    char* end = nullptr;
    const long pid = std::strtol(process->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == self) continue;
    char name[48];
    std::snprintf(name, sizeof name, "/proc/%ld/fd", pid);
    DIR* const files = ::opendir(name);
    if (files == nullptr) continue;
    while (const dirent* const file = ::readdir(files)) {
      struct stat open {};
      if (file->d_name[0] != '.' && ::fstatat(::dirfd(files), file->d_name, &open, 0) == 0 &&
          S_ISCHR(open.st_mode) && open.st_rdev == device.st_rdev) {
        found = !pty || !HoldsPtyMaster(files, pid, ptyIndex);
        break;
      }
    }
    ::closedir(files);
  }
  ::closedir(proc);
  return found;
}

// Waits until what was written has left the port, for half a second at most: tcdrain has no
// time limit, and a line held by flow control, or a driver that never drains, would hold the
// program for ever, a signal not ending it.
void Drain(int fd) {
  for (int tries = 0; tries < 250; ++tries) {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// TIOCMIWAIT has no time-out: a watcher blocked in it is woken by this signal, whose handler does
// nothing and which is caught without SA_RESTART, so that the wait returns EINTR.
constexpr int kWakeWatcherSignal = SIGUSR2;
void OnWakeWatcher(int) {}

// The modem status bit of a pulse line.
int StatusBit(PulseLine line) { return line == PulseLine::Cts ? TIOCM_CTS : TIOCM_CD; }

// A thread blocked in TIOCMIWAIT on the pulse line, which stamps the moment the driver wakes it
// and then reads the level: a rising edge is a change that leaves the line high. It costs
// nothing between edges; the stamp lies the driver's and the scheduler's wake-up after the edge
// (tens of microseconds on a motherboard UART).
class ModemLineWatcher {
 public:
  ~ModemLineWatcher() { Stop(); }

  bool Start(int fd, PulseLine line, LinkClock& clock, PulseEdges& edges) {
    Stop();
    int status = 0;
    if (line == PulseLine::None || ::ioctl(fd, TIOCMGET, &status) != 0) return false;
    static const bool handled = [] {
      struct sigaction wake {};
      wake.sa_handler = OnWakeWatcher;  // no SA_RESTART
      sigemptyset(&wake.sa_mask);
      return ::sigaction(kWakeWatcherSignal, &wake, nullptr) == 0;
    }();
    if (!handled) return false;
    // The thread's own descriptor and flags: should it outlive Stop, they are still its own.
    const int watched = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (watched < 0) return false;
    flags_ = std::make_shared<Flags>();
    const int bit = StatusBit(line);
    thread_ = std::thread([flags = flags_, watched, bit, high = (status & bit) != 0, &clock,
                           &edges]() mutable {
      // Woken first when the edge comes, where the process may (CAP_SYS_NICE); it sleeps else.
      const sched_param first{1};
      ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &first);
      while (!flags->stop) {
        if (::ioctl(watched, TIOCMIWAIT, bit) != 0) {
          if (errno == EINTR) continue;
          break;  // the line has gone
        }
        if (flags->stop) break;  // nothing of the port's is touched once it is stopped
        const ClockReading seen = clock.Now();
        int now = 0;
        if (::ioctl(watched, TIOCMGET, &now) != 0) break;
        const bool isHigh = (now & bit) != 0;
        if (isHigh && !high) edges.Add(seen);
        high = isHigh;
      }
      ::close(watched);
      flags->done = true;
    });
    return true;
  }

  void Stop() {
    if (!thread_.joinable()) return;
    flags_->stop = true;
    // Until it has seen the flag (a signal that came just before it blocked again wakes nothing),
    // for a second at most: a driver that restarts the wait whatever the signal would hold the
    // port, and the program, for ever. Left behind, the thread touches nothing of the port's
    // when its wait does end, and ends then (or with the program).
    for (int tries = 0; tries < 1000 && !flags_->done; ++tries) {
      ::pthread_kill(thread_.native_handle(), kWakeWatcherSignal);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (flags_->done) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }

 private:
  struct Flags {
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
  };
  std::thread thread_;
  std::shared_ptr<Flags> flags_;
};

class PosixSerialPort final : public SerialPort {
 public:
  ~PosixSerialPort() override {
    if (fd_ >= 0) Close();
  }

  bool Open(const char* name) override {
    if (fd_ >= 0) Close();
    // A search opens no port another program has open: even the open may disturb its device.
    if (asFound_ && OpenElsewhere(name)) {
      Fail(EBUSY);
      return false;
    }
    const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      Fail(errno);
      return false;
    }
    // Only a terminal device is a serial port. The lock is the one other serial programs take;
    // TIOCEXCL also keeps out those that do not lock (unless they have CAP_SYS_ADMIN).
    const bool terminal = ::isatty(fd) != 0;
    if (!terminal || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      Fail(terminal ? errno : ENOTTY);
      ::close(fd);
      return false;
    }
    ::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    found_ = asFound_ && ::tcgetattr(fd_, &foundSettings_) == 0;
    ::tcflush(fd_, TCIOFLUSH);
    SetLineParameters(kLineParametersAtOpen);
    return true;
  }

  void LeaveAsFound() override { asFound_ = true; }

  bool SetLineParameters(const LineParameters& p) override {
    termios t{};
    if (fd_ < 0 || ::tcgetattr(fd_, &t) != 0) {
      SetErrorText(fd_ < 0 ? EBADF : errno);
      return false;
    }
    if ((p.dataBits != 7 && p.dataBits != 8) || p.parity > kEvenParity ||
        (p.stopBits != kOneStopBit && p.stopBits != kTwoStopBits)) {
      SetErrorText(EINVAL);
      return false;
    }
    ::cfmakeraw(&t);
    // glibc takes the rate in bits per second as well as as a B constant (so do the BSDs, whose
    // constants are the rates); a rate it does not know is refused.
    if (::cfsetspeed(&t, p.baudRate) != 0) {
      SetErrorText(errno);
      return false;
    }
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= (p.dataBits == 7 ? CS7 : CS8) | CLOCAL | CREAD;
    if (p.parity != kNoParity) t.c_cflag |= PARENB | (p.parity == kOddParity ? PARODD : 0);
    if (p.stopBits == kTwoStopBits) t.c_cflag |= CSTOPB;
    // No software flow control; parity checked when there is parity.
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    if (p.parity != kNoParity) t.c_iflag |= INPCK;
    t.c_cc[VMIN] = 0;  // reads return at once with what has arrived
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
      SetErrorText(errno);
      return false;
    }
    int lines = TIOCM_DTR | TIOCM_RTS;  // a pty has neither; the call then just fails
    if (!asFound_) ::ioctl(fd_, TIOCMBIS, &lines);
    return true;
  }

  void Flush() override {
    if (fd_ >= 0) Drain(fd_);
  }

  std::uint32_t QueuedBytes() override {
    int queued = 0;
    if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &queued) != 0 || queued < 0) return 0;
    return static_cast<std::uint32_t>(queued);
  }

  std::uint32_t Read(std::uint8_t* buffer, std::uint32_t size) override {
    if (fd_ < 0) return 0;
    const ssize_t got = ::read(fd_, buffer, size);
    return got > 0 ? static_cast<std::uint32_t>(got) : 0;
  }

  void Write(const std::uint8_t* frame, std::size_t length) override {
    if (fd_ < 0) return;
    [[maybe_unused]] const ssize_t written = ::write(fd_, frame, length);
  }

  OpenFailure LastOpenFailure() const override { return failure_; }
  const char* LastErrorText() const override { return errorText_; }

  std::intptr_t ArrivalHandle() override { return fd_; }

  bool WaitForBytes(std::chrono::milliseconds timeout) override {
    if (fd_ >= 0) {
      pollfd p{fd_, POLLIN, 0};
      const auto began = std::chrono::steady_clock::now();
      if (::poll(&p, 1, static_cast<int>(timeout.count())) > 0) {
        if ((p.revents & POLLIN) && !(p.revents & (POLLHUP | POLLERR))) return true;
        if (QueuedBytes() > 0) return true;  // what came before the line went
        // A line that has gone is ready at once, and for ever: wait out the rest instead.
        timeout -= std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - began);
      } else {
        return false;
      }
    }
    if (timeout.count() > 0) ::poll(nullptr, 0, static_cast<int>(timeout.count()));
    return false;
  }

  bool WatchPulse(PulseLine line, LinkClock& clock, PulseEdges& edges) override {
    if (fd_ >= 0 && watcher_.Start(fd_, line, clock, edges)) return true;
    SetErrorText(fd_ >= 0 ? errno : EBADF);
    return false;
  }

  void StopPulseWatch() override { watcher_.Stop(); }

  void Close() override {
    if (fd_ < 0) return;
    watcher_.Stop();
    // A frame handed over leaves whole; what is drained is gone, so only what came in is dropped.
    // (On a pseudo-terminal, dropping the output would also take the drained frame back from the
    // other side before it is read.)
    Drain(fd_);
    ::ioctl(fd_, TIOCCBRK);
    ::tcflush(fd_, TCIFLUSH);
    if (found_) ::tcsetattr(fd_, TCSANOW, &foundSettings_);
    ::ioctl(fd_, TIOCNXCL);  // a pty's slave outlives this descriptor; let the next open in
    ::close(fd_);            // also releases the lock
    fd_ = -1;
  }

 private:
  // An Open that failed with `error`. A file that is not a terminal, and a port held (the lock
  // other serial programs take, another's exclusive open, or another process's open seen by a
  // search), get words of their own: "Inappropriate ioctl for device" and "Resource temporarily
  // unavailable" would not tell the user what is wrong.
  void Fail(int error) {
    failure_ = FailureOf(error);
    std::snprintf(errorText_, sizeof errorText_, "%s",
                  error == ENOTTY        ? "not a serial port"
                  : error == EWOULDBLOCK || error == EBUSY ? "in use by another program"
                                         : std::strerror(error));
  }

  void SetErrorText(int error) {
    std::snprintf(errorText_, sizeof errorText_, "%s", std::strerror(error));
  }

  int fd_ = -1;
  bool asFound_ = false;  // LeaveAsFound
  bool found_ = false;    // foundSettings_ were read at the open
  termios foundSettings_{};
  ModemLineWatcher watcher_;
  OpenFailure failure_ = OpenFailure::NoPort;
  char errorText_[128] = {};
};

// "/dev/ttyUSB10" after "/dev/ttyUSB9": by the name's letters, then its number.
bool ComesBefore(const std::string& a, const std::string& b) {
  const auto stem = [](const std::string& name) { return name.find_last_not_of("0123456789") + 1; };
  const std::size_t sa = stem(a), sb = stem(b);
  if (a.compare(0, sa, b, 0, sb) != 0) return a.compare(0, sa, b, 0, sb) < 0;
  return std::strtol(a.c_str() + sa, nullptr, 10) < std::strtol(b.c_str() + sb, nullptr, 10);
}

}  // namespace

std::vector<std::string> SystemPortNames() {
  std::vector<std::string> names;
  for (const char* pattern : {"/dev/ttyS*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyAMA*"}) {
    glob_t found{};
    if (::glob(pattern, 0, nullptr, &found) == 0) {
      std::vector<std::string> these(found.gl_pathv, found.gl_pathv + found.gl_pathc);
      std::sort(these.begin(), these.end(), ComesBefore);
      names.insert(names.end(), these.begin(), these.end());
    }
    ::globfree(&found);
  }
  return names;
}

std::unique_ptr<SerialPort> NewSystemSerialPort() { return std::make_unique<PosixSerialPort>(); }

}  // namespace clockagent
