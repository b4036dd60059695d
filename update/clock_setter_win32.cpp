// The system clock on Windows: SetSystemTime with a UTC SYSTEMTIME, to the millisecond.
#include <windows.h>

#include "update/clock_setter.h"
#include "update/windows_time.h"

namespace clockagent {

bool SystemClockSetter::Set(const SystemTime& utc) {
  SYSTEMTIME st{};
  st.wYear = utc.wYear;
  st.wMonth = utc.wMonth;
  st.wDayOfWeek = utc.wDayOfWeek;
  st.wDay = utc.wDay;
  st.wHour = utc.wHour;
  st.wMinute = utc.wMinute;
  st.wSecond = utc.wSecond;
  st.wMilliseconds = utc.wMilliseconds;
  return ::SetSystemTime(&st) != FALSE;
}

// SetSystemTime takes whole milliseconds.
std::int64_t SystemClockSetter::ResolutionNs() const { return 1000000; }

struct SystemClockSetter::RateSteering {};

SystemClockSetter::SystemClockSetter() = default;
SystemClockSetter::~SystemClockSetter() { ReleaseRate(); }

bool SystemClockSetter::SetRate(double ppm) {
  static_cast<void>(ppm);
  return false;
}

void SystemClockSetter::ReleaseRate() {}

const char* SystemClockSetter::RateBlocker() const {
  return WindowsTimeOverwrites() ? kWindowsTimeDisciplineText : "";
}

}  // namespace clockagent
