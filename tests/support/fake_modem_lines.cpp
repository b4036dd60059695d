// Modem lines for pseudo-terminals, which have none: loaded with LD_PRELOAD into the simulated
// receiver and into the program under test (natively, or wine with a Windows program: wine's
// serial code asks the unix side with the same ioctls). The receiver's outputs, raised and
// lowered on the master side with TIOCMBIS and TIOCMBIC, reach the port side as a null-modem
// cable wires them: DTR to DCD and DSR, RTS to CTS. The port side reads them with TIOCMGET, waits
// for their change with TIOCMIWAIT and counts changes with TIOCGICOUNT. The state is the file
// FAKE_MODEM_LINES names, shared by the processes of one test; a futex on it wakes the waits.
// Every other ioctl, and any on a device with modem lines of its own, goes through.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>

namespace {

struct LineState {
  std::atomic<std::uint32_t> changes;  // the futex word: one more at each change
  std::atomic<std::uint32_t> lines;    // TIOCM_CD, TIOCM_DSR and TIOCM_CTS of the port side
  std::atomic<std::int32_t> dcdChanges, ctsChanges;
};

int RealIoctl(int fd, unsigned long request, void* arg) {
  using Ioctl = int (*)(int, unsigned long, ...);
  static const auto real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
  return real(fd, request, arg);
}

LineState* State() {
  static LineState* const state = []() -> LineState* {
    const char* path = std::getenv("FAKE_MODEM_LINES");
    const int fd = path != nullptr ? open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600) : -1;
    if (fd < 0) return nullptr;
    void* map = ftruncate(fd, sizeof(LineState)) == 0
                    ? mmap(nullptr, sizeof(LineState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                    : MAP_FAILED;
    close(fd);
    return map == MAP_FAILED ? nullptr : static_cast<LineState*>(map);
  }();
  return state;
}

// The receiver raises (or lowers) its outputs `bits`: the port side's lines follow.
void SetOutputs(LineState& state, unsigned bits, bool raise) {
  const std::uint32_t lines = ((bits & TIOCM_DTR) ? TIOCM_CD | TIOCM_DSR : 0u) |
                              ((bits & TIOCM_RTS) ? TIOCM_CTS : 0u);
  const std::uint32_t was = raise ? state.lines.fetch_or(lines) : state.lines.fetch_and(~lines);
  const std::uint32_t changed = was ^ (raise ? was | lines : was & ~lines);
  if (changed == 0) return;
  if (changed & TIOCM_CD) state.dcdChanges.fetch_add(1);
  if (changed & TIOCM_CTS) state.ctsChanges.fetch_add(1);
  state.changes.fetch_add(1);
  syscall(SYS_futex, &state.changes, FUTEX_WAKE, INT32_MAX, nullptr, nullptr, 0);
}

// -1 with errno EINTR when a signal ends the wait, as the kernel's; with FAKE_MODEM_LINES_STUCK
// set, never: the wait goes on as some drivers' do.
int WaitForChange(LineState& state, unsigned mask) {
  static const bool stuck = std::getenv("FAKE_MODEM_LINES_STUCK") != nullptr;
  const std::uint32_t was = state.lines.load() & mask;
  for (;;) {
    const std::uint32_t seen = state.changes.load();
    if ((state.lines.load() & mask) != was) return 0;
    if (syscall(SYS_futex, &state.changes, FUTEX_WAIT, seen, nullptr, nullptr, 0) != 0 &&
        errno == EINTR && !stuck) {
      return -1;
    }
  }
}

// The fake's answer; -2 where it has none.
int Fake(LineState& state, int fd, unsigned long request, void* arg) {
  unsigned number = 0;
  const bool master = RealIoctl(fd, TIOCGPTN, &number) == 0;
  if (request == TIOCMBIS || request == TIOCMBIC) {
    // The port side's own outputs reach nothing here.
    if (master) SetOutputs(state, *static_cast<const unsigned*>(arg), request == TIOCMBIS);
    return 0;
  }
  if (master) return -2;
  if (request == TIOCMGET) *static_cast<int*>(arg) = static_cast<int>(state.lines.load());
  if (request == TIOCMIWAIT) {
    return WaitForChange(state, static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(arg)));
  }
  if (request == TIOCGICOUNT) {
    auto* counts = static_cast<serial_icounter_struct*>(arg);
    *counts = serial_icounter_struct{};
    counts->dcd = counts->dsr = state.dcdChanges.load();
    counts->cts = state.ctsChanges.load();
  }
  return request == TIOCMGET || request == TIOCGICOUNT ? 0 : -2;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list list;
  va_start(list, request);
  void* arg = va_arg(list, void*);
  va_end(list);
  const int saved = errno;
  const int result = RealIoctl(fd, request, arg);
  if (result == 0 || (errno != ENOTTY && errno != EINVAL)) return result;
  const int error = errno;
  LineState* state = State();
  const int faked = state != nullptr && isatty(fd) ? Fake(*state, fd, request, arg) : -2;
  errno = faked == -2 ? error : faked == 0 ? saved : errno;
  return faked == -2 ? result : faked;
}
