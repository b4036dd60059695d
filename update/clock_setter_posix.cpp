// The system clock on POSIX: clock_settime(CLOCK_REALTIME), to the microsecond.
#include <time.h>

#include <cstdint>
#include <limits>

#include "update/clock_setter.h"
#include "update/clock_setting.h"

namespace clockagent {

bool SystemClockSetter::Set(const SystemTime& utc) {
  std::int64_t seconds = 0;
  if (!SystemTimeToUnixSeconds(utc, &seconds)) return false;
  if (seconds > static_cast<std::int64_t>(std::numeric_limits<time_t>::max())) return false;
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds);
  if (utc.microseconds > 999) return false;
  ts.tv_nsec = static_cast<long>(utc.wMilliseconds) * 1000000 + static_cast<long>(utc.microseconds) * 1000;
  return clock_settime(CLOCK_REALTIME, &ts) == 0;
}

std::int64_t SystemClockSetter::ResolutionNs() const { return 1000; }

struct SystemClockSetter::RateSteering {};

SystemClockSetter::SystemClockSetter() = default;
SystemClockSetter::~SystemClockSetter() { ReleaseRate(); }

bool SystemClockSetter::SetRate(double ppm) {
  static_cast<void>(ppm);
  return false;
}

void SystemClockSetter::ReleaseRate() {}

// A time daemon here is told of in the README: its machine feeds it through refclock instead.
const char* SystemClockSetter::RateBlocker() const { return ""; }

}  // namespace clockagent
