// The clocks and the waiting of the receiver link: when bytes arrived, and the short pauses around
// the line settings. Tests and the soak put in clocks of their own.
#pragma once

#include <chrono>
#include <cstdint>

namespace clockagent {

constexpr std::int64_t kNsPerSecond = 1000000000;

// One moment on two clocks: the system clock, in nanoseconds since 1970-01-01 00:00:00 UTC, and a
// monotonic clock, in nanoseconds since some fixed start.
struct ClockReading {
  std::int64_t systemNs = 0;
  std::int64_t monotonicNs = 0;
};

class LinkClock {
 public:
  virtual ClockReading Now() = 0;
  virtual void Pause(std::chrono::milliseconds duration) = 0;

 protected:
  ~LinkClock() = default;
};

// The machine's clocks; its pauses sleep.
LinkClock& SystemLinkClock();

}  // namespace clockagent
