// Setting the system clock to a UTC calendar time: the interface, the platform setter and a
// dry-run setter that only records what it was asked.
#pragma once

#include <cstdint>

namespace clockagent {

// A UTC calendar time, laid out like the Win32 SYSTEMTIME record.
struct SystemTime {
  std::uint16_t wYear = 0;
  std::uint16_t wMonth = 0;      // 1 to 12
  std::uint16_t wDayOfWeek = 0;  // not computed; no setter reads it
  std::uint16_t wDay = 0;        // 1 to 31
  std::uint16_t wHour = 0;
  std::uint16_t wMinute = 0;
  std::uint16_t wSecond = 0;
  std::uint16_t wMilliseconds = 0;
  std::uint16_t microseconds = 0;  // within the millisecond, for a setter that takes them
};

class ClockSetter {
 public:
  virtual ~ClockSetter() = default;
  // Sets the system clock to `utc`. Returns true when the platform accepted it.
  virtual bool Set(const SystemTime& utc) = 0;
  // The finest step of time it sets, in nanoseconds: what it drops below that is lost unless the
  // clock is set at a moment when there is nothing below it to drop.
  virtual std::int64_t ResolutionNs() const { return 1000; }
};

// The operating system's clock: SetSystemTime on Windows, which takes whole milliseconds, and
// clock_settime(CLOCK_REALTIME) elsewhere, to the microsecond.
// Fails without the right to change the clock, or for a record that is not a valid time.
class SystemClockSetter final : public ClockSetter {
 public:
  bool Set(const SystemTime& utc) override;
  std::int64_t ResolutionNs() const override;
};

// Changes nothing: records the time it was asked to set and reports success.
class DryRunClockSetter final : public ClockSetter {
 public:
  bool Set(const SystemTime& utc) override {
    last = utc;
    ++calls;
    return true;
  }

  SystemTime last;
  int calls = 0;
};

}  // namespace clockagent
