// The machine's clocks on Windows: the precise system time and the performance counter.
#include <windows.h>

#include "receiver/link_clock.h"

namespace clockagent {
namespace {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000;

class SystemClocks final : public LinkClock {
 public:
  SystemClocks() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    frequency_ = frequency.QuadPart;
  }
  ClockReading Now() override {
    ClockReading now;
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    // Whole seconds and the rest apart, so that nothing overflows however long the machine runs.
    const std::int64_t ticks = counter.QuadPart;
    now.monotonicNs = ticks / frequency_ * kNsPerSecond + ticks % frequency_ * kNsPerSecond / frequency_;
    FILETIME system;
    GetSystemTimePreciseAsFileTime(&system);
    const std::int64_t intervals =
        static_cast<std::int64_t>(static_cast<ULONGLONG>(system.dwHighDateTime) << 32 |
                                  system.dwLowDateTime);
    now.systemNs = (intervals - kUnixEpochIn100ns) * 100;
    return now;
  }
  void Pause(std::chrono::milliseconds duration) override {
    Sleep(static_cast<DWORD>(duration.count()));
  }

 private:
  std::int64_t frequency_ = 1;
};

}  // namespace

LinkClock& SystemLinkClock() {
  static SystemClocks clocks;
  return clocks;
}

}  // namespace clockagent
