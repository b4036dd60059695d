// Modem lines for pseudo-terminals, which have none: loaded with LD_PRELOAD into the simulated
// receiver and into the program under test (natively, or wine with a Windows program: wine's
// serial code asks the unix side with the same ioctls). The receiver's outputs, set on the
// master side with TIOCMBIS, TIOCMBIC or TIOCMSET, become the port side's inputs as a null-modem
// cable wires them: DTR to DCD and DSR, RTS to CTS. The port side reads them with TIOCMGET, waits
// for their change with TIOCMIWAIT and counts their changes with TIOCGICOUNT. The state lives in
// the file named by FAKE_MODEM_LINES, shared by every process of one test; a futex on it wakes
// the waits. Every other ioctl, and every one on a device that has real modem lines, goes through.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>

namespace {

struct LineState {
  std::atomic<std::uint32_t> changes;  // the futex word: one more at each change
  std::atomic<std::uint32_t> lines;    // TIOCM_CD, TIOCM_DSR, TIOCM_CTS of the port side
  std::atomic<std::uint32_t> dcdChanges;
  std::atomic<std::uint32_t> ctsChanges;
};

using IoctlFunction = int (*)(int, unsigned long, ...);

IoctlFunction RealIoctl() {
  static const auto real = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
  return real;
}

LineState* State() {
  static LineState* const state = []() -> LineState* {
    const char* path = std::getenv("FAKE_MODEM_LINES");
    if (path == nullptr || *path == '\0') return nullptr;
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    void* map = nullptr;
    if (ftruncate(fd, sizeof(LineState)) == 0) {
      map = mmap(nullptr, sizeof(LineState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    close(fd);
    return map == MAP_FAILED ? nullptr : static_cast<LineState*>(map);
  }();
  return state;
}

bool IsPtyMaster(int fd) {
  unsigned number = 0;
  return RealIoctl()(fd, TIOCGPTN, &number) == 0;
}

// The receiver's outputs as they reach the port side.
void SetOutputs(LineState& state, unsigned outputs) {
  const std::uint32_t lines = ((outputs & TIOCM_DTR) ? TIOCM_CD | TIOCM_DSR : 0u) |
                              ((outputs & TIOCM_RTS) ? TIOCM_CTS : 0u);
  const std::uint32_t was = state.lines.exchange(lines);
  if (((was ^ lines) & TIOCM_CD) != 0) state.dcdChanges.fetch_add(1);
  if (((was ^ lines) & TIOCM_CTS) != 0) state.ctsChanges.fetch_add(1);
  if (was == lines) return;
  state.changes.fetch_add(1);
  syscall(SYS_futex, &state.changes, FUTEX_WAKE, INT32_MAX, nullptr, nullptr, 0);
}

// The master side's own outputs, as the lines they raise.
unsigned Outputs(const LineState& state) {
  const std::uint32_t lines = state.lines.load();
  return ((lines & TIOCM_CD) ? TIOCM_DTR : 0u) | ((lines & TIOCM_CTS) ? TIOCM_RTS : 0u);
}

int WaitForChange(LineState& state, unsigned mask) {
  const std::uint32_t was = state.lines.load() & mask;
  for (;;) {
    const std::uint32_t seen = state.changes.load();
    if ((state.lines.load() & mask) != was) return 0;
    if (syscall(SYS_futex, &state.changes, FUTEX_WAIT, seen, nullptr, nullptr, 0) != 0 &&
        errno == EINTR) {
      return -1;
    }
  }
}

int Fake(int fd, unsigned long request, void* arg) {
  LineState* state = State();
  if (state == nullptr) return -2;
  const bool master = IsPtyMaster(fd);
  switch (request) {
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMSET: {
      if (!master) return 0;  // the port side's own outputs reach nothing here
      const unsigned bits = *static_cast<const int*>(arg);
      const unsigned now = Outputs(*state);
      SetOutputs(*state,
                 request == TIOCMSET ? bits : request == TIOCMBIS ? now | bits : now & ~bits);
      return 0;
    }
    case TIOCMGET:
      *static_cast<int*>(arg) = static_cast<int>(master ? Outputs(*state) : state->lines.load());
      return 0;
    case TIOCMIWAIT:
      if (master) return -2;
      return WaitForChange(*state, static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(arg)));
    case TIOCGICOUNT: {
      if (master) return -2;
      serial_icounter_struct* counts = static_cast<serial_icounter_struct*>(arg);
      *counts = serial_icounter_struct{};
      counts->dcd = static_cast<int>(state->dcdChanges.load());
      counts->dsr = counts->dcd;
      counts->cts = static_cast<int>(state->ctsChanges.load());
      return 0;
    }
    default:
      return -2;
  }
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list list;
  va_start(list, request);
  void* arg = va_arg(list, void*);
  va_end(list);
  const int saved = errno;
  const int result = RealIoctl()(fd, request, arg);
  if (result == 0 || (errno != ENOTTY && errno != EINVAL) || !isatty(fd)) {
    return result;
  }
  const int faked = Fake(fd, request, arg);
  if (faked == -2) return result;
  if (faked == 0) errno = saved;
  return faked;
}
