// A virtual system clock for one test's processes: the state that tests/support/virtual_clock.cpp
// (loaded with LD_PRELOAD) keeps in the file VIRTUAL_CLOCK names, and a reader for the test or
// benchmark that watches it from outside. The clock is a line through the real CLOCK_MONOTONIC:
//   virtual(t) = anchorVirtualNs + (monotonic(t) - anchorMonoNs) * (1 + (naturalPpm + freqPpm) / 1e6)
// re-anchored at each step and each change of rate, so the past never moves.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

namespace clockagent::test {

constexpr std::uint32_t kVirtualClockMagic = 0x564b4c31;  // set last, once the state is whole

// The file's layout. Writers (in the preloaded processes) take `sequence` from even to odd, change
// the fields and make it even again; a reader retries while it is odd or has moved.
struct VirtualClockState {
  std::atomic<std::uint32_t> magic;
  std::atomic<std::uint32_t> sequence;
  std::atomic<std::int64_t> anchorVirtualNs;  // CLOCK_REALTIME as the processes see it...
  std::atomic<std::int64_t> anchorMonoNs;     // ...at this real CLOCK_MONOTONIC
  std::atomic<double> naturalPpm;             // the clock's own error: positive runs fast
  std::atomic<std::int64_t> freq;             // the rate set, as timex.freq: 2^-16 ppm
  // Counters, outside the sequence.
  std::atomic<std::uint32_t> steps;             // clock_settime
  std::atomic<std::uint32_t> frequencyChanges;  // ADJ_FREQUENCY
  std::atomic<std::uint32_t> kernelLoopUses;    // ADJ_OFFSET, ADJ_SETOFFSET, ADJ_STATUS, STA_PLL,
                                                // ADJ_TIMECONST, ADJ_TICK
};
static_assert(std::atomic<double>::is_always_lock_free &&
                  std::atomic<std::int64_t>::is_always_lock_free,
              "the state is shared between processes: its atomics must hold no lock");

inline std::int64_t ClockNs(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The real CLOCK_REALTIME, by the system call, so that even a preloaded reader sees the real one.
inline std::int64_t RealTimeNs() {
  timespec ts{};
  syscall(SYS_clock_gettime, CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One consistent reading of the line.
struct VirtualClockLine {
  std::int64_t anchorVirtualNs = 0;
  std::int64_t anchorMonoNs = 0;
  double naturalPpm = 0;
  std::int64_t freq = 0;

  double FreqPpm() const { return static_cast<double>(freq) / 65536.0; }
  std::int64_t At(std::int64_t monoNs) const {
    const std::int64_t elapsed = monoNs - anchorMonoNs;
    const double ratePpm = naturalPpm + FreqPpm();  // how fast it runs against real time
    return anchorVirtualNs + elapsed +
           static_cast<std::int64_t>(std::llround(static_cast<double>(elapsed) * ratePpm * 1e-6));
  }
};

inline VirtualClockLine ReadLine(const VirtualClockState& state) {
  for (;;) {
    const std::uint32_t before = state.sequence.load(std::memory_order_acquire);
    VirtualClockLine line;
    line.anchorVirtualNs = state.anchorVirtualNs.load(std::memory_order_relaxed);
    line.anchorMonoNs = state.anchorMonoNs.load(std::memory_order_relaxed);
    line.naturalPpm = state.naturalPpm.load(std::memory_order_relaxed);
    line.freq = state.freq.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if ((before & 1u) == 0 && state.sequence.load(std::memory_order_relaxed) == before) return line;
  }
}

// The state in a file, for reading from outside. Open() fails until a preloaded process has made
// the file.
class VirtualClockReader {
 public:
  explicit VirtualClockReader(std::string path) : path_(std::move(path)) {}
  ~VirtualClockReader() {
    if (state_ != nullptr) munmap(state_, sizeof(VirtualClockState));
  }
  VirtualClockReader(const VirtualClockReader&) = delete;
  VirtualClockReader& operator=(const VirtualClockReader&) = delete;

  bool Open() {
    if (state_ != nullptr) return true;
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0) return false;
    void* map = fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(VirtualClockState))
                    ? mmap(nullptr, sizeof(VirtualClockState), PROT_READ, MAP_SHARED, fd, 0)
                    : MAP_FAILED;
    close(fd);
    if (map == MAP_FAILED) return false;
    auto* state = static_cast<VirtualClockState*>(map);
    if (state->magic.load(std::memory_order_acquire) != kVirtualClockMagic) {
      munmap(map, sizeof(VirtualClockState));
      return false;
    }
    state_ = state;
    return true;
  }

  // Only after Open() succeeded.
  const VirtualClockState& State() const { return *state_; }
  VirtualClockLine Line() const { return ReadLine(*state_); }

  // The virtual clock less the real CLOCK_REALTIME, now (positive: the virtual clock is ahead).
  // The real time is read between two monotonic readings and set against their midpoint.
  std::int64_t ErrorNs() const {
    const VirtualClockLine line = Line();
    const std::int64_t monoBefore = ClockNs(CLOCK_MONOTONIC);
    const std::int64_t real = RealTimeNs();
    const std::int64_t monoAfter = ClockNs(CLOCK_MONOTONIC);
    return line.At(monoBefore + (monoAfter - monoBefore) / 2) - real;
  }

 private:
  std::string path_;
  VirtualClockState* state_ = nullptr;
};

// While it lives, the programs started get the virtual clock: `library` (the built
// virtual_clock, CLOCKAGENT_VIRTUAL_CLOCK in the tests) put before any LD_PRELOAD already set, its
// state in `statePath`, made on first use with the clock `naturalPpm` fast and `offsetMs` ahead
// of the real one. The environment is put back as it was at the end.
class VirtualClockPreload {
 public:
  VirtualClockPreload(const std::string& library, const std::string& statePath,
                      double naturalPpm = 0, double offsetMs = 0) {
    Save("LD_PRELOAD", preload_);
    setenv("LD_PRELOAD", (preload_.first ? library + ":" + preload_.second : library).c_str(), 1);
    // Under AddressSanitizer the library comes before its runtime, which it would otherwise refuse.
    Save("ASAN_OPTIONS", asanOptions_);
    setenv("ASAN_OPTIONS",
           (asanOptions_.first ? asanOptions_.second + ":" : std::string()).append(
               "verify_asan_link_order=0").c_str(),
           1);
    setenv("VIRTUAL_CLOCK", statePath.c_str(), 1);
    setenv("VIRTUAL_CLOCK_PPM", std::to_string(naturalPpm).c_str(), 1);
    setenv("VIRTUAL_CLOCK_OFFSET_MS", std::to_string(offsetMs).c_str(), 1);
  }
  ~VirtualClockPreload() {
    Restore("LD_PRELOAD", preload_);
    Restore("ASAN_OPTIONS", asanOptions_);
    unsetenv("VIRTUAL_CLOCK");
    unsetenv("VIRTUAL_CLOCK_PPM");
    unsetenv("VIRTUAL_CLOCK_OFFSET_MS");
  }
  VirtualClockPreload(const VirtualClockPreload&) = delete;
  VirtualClockPreload& operator=(const VirtualClockPreload&) = delete;

 private:
  using Saved = std::pair<bool, std::string>;  // whether it was set, and to what
  static void Save(const char* name, Saved& saved) {
    const char* value = std::getenv(name);
    saved = {value != nullptr, value != nullptr ? value : ""};
  }
  static void Restore(const char* name, const Saved& saved) {
    if (saved.first) {
      setenv(name, saved.second.c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  Saved preload_;
  Saved asanOptions_;
};

}  // namespace clockagent::test
