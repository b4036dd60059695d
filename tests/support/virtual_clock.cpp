// A virtual system clock, loaded with LD_PRELOAD into the program under test, so that tests step
// and steer "the system clock" without the right to, and without touching this machine's. Only
// CLOCK_REALTIME (and its coarse reading) is virtual, as the program reads and sets it:
// clock_gettime and time read it; clock_settime steps it; clock_adjtime and adjtimex read its rate
// and set it with ADJ_FREQUENCY, clamped to +-500 ppm as the kernel clamps. What would start the
// kernel's own loop (or step it by an offset) is counted, not done, so that tests can say it never
// happens. The state is the file
// VIRTUAL_CLOCK names (see virtual_clock.h), shared by the processes of one test; made on first use
// from VIRTUAL_CLOCK_PPM and VIRTUAL_CLOCK_OFFSET_MS. Without VIRTUAL_CLOCK everything goes through.
#include "tests/support/virtual_clock.h"

#include <dlfcn.h>
#include <sys/time.h>
#include <sys/timex.h>

#include <cerrno>
#include <cstdlib>

namespace clockagent::test {
namespace {

// The kernel's limit on timex.freq: 500 ppm in units of 2^-16 ppm.
constexpr std::int64_t kLargestFreq = 500LL << 16;
// Modes that would hand the clock to the kernel's loop, or change its rate outside freq.
constexpr unsigned kKernelLoopModes =
    ADJ_OFFSET | ADJ_SETOFFSET | ADJ_STATUS | ADJ_TIMECONST | ADJ_TICK;

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int RealClockGettime(clockid_t clock, timespec* ts) {
  using Function = int (*)(clockid_t, timespec*);
  static const auto real = Real<Function>("clock_gettime");
  return real(clock, ts);
}

std::int64_t Ns(const timespec& ts) {
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t MonoNs() {
  timespec ts{};
  RealClockGettime(CLOCK_MONOTONIC, &ts);
  return Ns(ts);
}

double EnvNumber(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::strtod(text, nullptr) : 0.0;
}

// The new state's line: the real time read between two monotonic readings, set against their
// midpoint, and moved by the offset asked for.
void Initialise(VirtualClockState& state) {
  const std::int64_t before = MonoNs();
  timespec real{};
  RealClockGettime(CLOCK_REALTIME, &real);
  const std::int64_t after = MonoNs();
  state.anchorMonoNs.store(before + (after - before) / 2);
  state.anchorVirtualNs.store(
      Ns(real) + std::llround(EnvNumber("VIRTUAL_CLOCK_OFFSET_MS") * 1e6));
  state.naturalPpm.store(EnvNumber("VIRTUAL_CLOCK_PPM"));
  state.magic.store(kVirtualClockMagic, std::memory_order_release);
}

void Pause() {
  const timespec millisecond{0, 1000000};
  nanosleep(&millisecond, nullptr);
}

// The process that creates the file fills it; the others wait (up to a second) until it has.
VirtualClockState* Map() {
  const char* path = std::getenv("VIRTUAL_CLOCK");
  if (path == nullptr) return nullptr;
  int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  const bool created = fd >= 0;
  if (!created) fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (created && ftruncate(fd, sizeof(VirtualClockState)) != 0) {
    close(fd);
    return nullptr;
  }
  struct stat st {};
  for (int i = 0; i < 1000 && fstat(fd, &st) == 0 &&
                  st.st_size < static_cast<off_t>(sizeof(VirtualClockState));
       ++i) {
    Pause();
  }
  void* map = st.st_size >= static_cast<off_t>(sizeof(VirtualClockState)) || created
                  ? mmap(nullptr, sizeof(VirtualClockState), PROT_READ | PROT_WRITE, MAP_SHARED,
                         fd, 0)
                  : MAP_FAILED;
  close(fd);
  if (map == MAP_FAILED) return nullptr;
  auto* state = static_cast<VirtualClockState*>(map);
  if (created) Initialise(*state);
  for (int i = 0; i < 1000 && state->magic.load(std::memory_order_acquire) != kVirtualClockMagic;
       ++i) {
    Pause();
  }
  return state->magic.load(std::memory_order_acquire) == kVirtualClockMagic ? state : nullptr;
}

VirtualClockState* State() {
  static VirtualClockState* const state = Map();
  return state;
}

bool IsVirtual(clockid_t clock) {
  return (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE) && State() != nullptr;
}

std::int64_t VirtualNs(const VirtualClockState& state) { return ReadLine(state).At(MonoNs()); }

// Changes the line under the sequence: odd while it changes, so readers retry. Anchored at now,
// so that the time already past stays as it was.
template <typename Change>
void Rewrite(VirtualClockState& state, Change change) {
  std::uint32_t sequence = state.sequence.load(std::memory_order_relaxed);
  while ((sequence & 1u) != 0 ||
         !state.sequence.compare_exchange_weak(sequence, sequence + 1, std::memory_order_acquire,
                                                std::memory_order_relaxed)) {
    sequence = state.sequence.load(std::memory_order_relaxed);
  }
  std::atomic_thread_fence(std::memory_order_release);
  VirtualClockLine line;
  line.anchorVirtualNs = state.anchorVirtualNs.load(std::memory_order_relaxed);
  line.anchorMonoNs = state.anchorMonoNs.load(std::memory_order_relaxed);
  line.naturalPpm = state.naturalPpm.load(std::memory_order_relaxed);
  line.freq = state.freq.load(std::memory_order_relaxed);
  const std::int64_t now = MonoNs();
  line.anchorVirtualNs = line.At(now);
  line.anchorMonoNs = now;
  change(line);
  state.anchorVirtualNs.store(line.anchorVirtualNs, std::memory_order_relaxed);
  state.anchorMonoNs.store(line.anchorMonoNs, std::memory_order_relaxed);
  state.freq.store(line.freq, std::memory_order_relaxed);
  state.sequence.store(sequence + 2, std::memory_order_release);
}

void Step(VirtualClockState& state, std::int64_t ns) {
  Rewrite(state, [ns](VirtualClockLine& line) { line.anchorVirtualNs = ns; });
  state.steps.fetch_add(1);
}

timespec Timespec(std::int64_t ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  if (ts.tv_nsec < 0) ts.tv_nsec += 1000000000, --ts.tv_sec;
  return ts;
}

// clock_adjtime on the virtual clock: what the kernel's would do for ADJ_FREQUENCY and for a read;
// the kernel's loop only counted. Returns TIME_OK.
int Adjust(VirtualClockState& state, timex& tx) {
  const unsigned modes = tx.modes;
  if (modes != 0 && modes != ADJ_OFFSET_SS_READ) {
    const bool loop = (modes & kKernelLoopModes) != 0 || (tx.status & STA_PLL) != 0;
    if (loop) state.kernelLoopUses.fetch_add(1);
    if (modes & ADJ_FREQUENCY) {
      const std::int64_t freq =
          tx.freq > kLargestFreq ? kLargestFreq : tx.freq < -kLargestFreq ? -kLargestFreq : tx.freq;
      Rewrite(state, [freq](VirtualClockLine& line) { line.freq = freq; });
      state.frequencyChanges.fetch_add(1);
    }
  }
  // What a read gives: the rate, no loop and no offset under way, the time in microseconds.
  const VirtualClockLine line = ReadLine(state);
  const timespec now = Timespec(line.At(MonoNs()));
  tx.offset = 0;
  tx.freq = static_cast<long>(line.freq);
  tx.status = 0;
  tx.time.tv_sec = now.tv_sec;
  tx.time.tv_usec = now.tv_nsec / 1000;
  return TIME_OK;
}

}  // namespace
}  // namespace clockagent::test

using clockagent::test::IsVirtual;
using clockagent::test::State;

extern "C" {

int clock_gettime(clockid_t clock, timespec* ts) noexcept {
  if (!IsVirtual(clock)) return clockagent::test::RealClockGettime(clock, ts);
  *ts = clockagent::test::Timespec(clockagent::test::VirtualNs(*State()));
  return 0;
}

time_t time(time_t* result) noexcept {
  if (!IsVirtual(CLOCK_REALTIME)) {
    using Function = time_t (*)(time_t*);
    static const auto real = clockagent::test::Real<Function>("time");
    return real(result);
  }
  const time_t now = clockagent::test::Timespec(clockagent::test::VirtualNs(*State())).tv_sec;
  if (result != nullptr) *result = now;
  return now;
}

int clock_settime(clockid_t clock, const timespec* ts) noexcept {
  if (clock != CLOCK_REALTIME || !IsVirtual(clock)) {
    using Function = int (*)(clockid_t, const timespec*);
    static const auto real = clockagent::test::Real<Function>("clock_settime");
    return real(clock, ts);
  }
  if (ts->tv_nsec < 0 || ts->tv_nsec >= 1000000000) {
    errno = EINVAL;
    return -1;
  }
  clockagent::test::Step(*State(), clockagent::test::Ns(*ts));
  return 0;
}

int clock_adjtime(clockid_t clock, timex* tx) noexcept {
  if (clock != CLOCK_REALTIME || !IsVirtual(clock)) {
    using Function = int (*)(clockid_t, timex*);
    static const auto real = clockagent::test::Real<Function>("clock_adjtime");
    return real(clock, tx);
  }
  return clockagent::test::Adjust(*State(), *tx);
}

int adjtimex(timex* tx) noexcept {
  if (!IsVirtual(CLOCK_REALTIME)) {
    using Function = int (*)(timex*);
    static const auto real = clockagent::test::Real<Function>("adjtimex");
    return real(tx);
  }
  return clockagent::test::Adjust(*State(), *tx);
}

}  // extern "C"
