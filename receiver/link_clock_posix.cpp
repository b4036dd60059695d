// The machine's clocks on POSIX, and the one place where the link sleeps.
#include <time.h>

#include <thread>

#include "receiver/link_clock.h"

namespace clockagent {
namespace {

std::int64_t Nanoseconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

class SystemClocks final : public LinkClock {
 public:
  ClockReading Now() override {
    ClockReading now;
    now.monotonicNs = Nanoseconds(CLOCK_MONOTONIC);
    now.systemNs = Nanoseconds(CLOCK_REALTIME);
    return now;
  }
  void Pause(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

}  // namespace

LinkClock& SystemLinkClock() {
  static SystemClocks clocks;
  return clocks;
}

}  // namespace clockagent
