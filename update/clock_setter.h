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

  // Steering the clock's rate, for a discipline. SetRate makes the clock run `ppm` parts per
  // million faster than it runs by itself (negative: slower), within kLargestRatePpm, and reads
  // back what the system kept: false when it refused the rate or did not keep it. ReleaseRate
  // hands the rate back to the system, as it was before any SetRate.
  virtual bool SetRate(double ppm) {
    static_cast<void>(ppm);
    return false;
  }
  virtual void ReleaseRate() {}
  // Why the rate may not be steered now (another program steers the clock); empty when it may.
  virtual const char* RateBlocker() const { return ""; }
};

// The operating system's clock: SetSystemTime on Windows, which takes whole milliseconds, and
// clock_settime(CLOCK_REALTIME) elsewhere, to the microsecond.
// Fails without the right to change the clock, or for a record that is not a valid time.
// Its rate through clock_adjtime(CLOCK_REALTIME) with ADJ_FREQUENCY alone (never the kernel's own
// loop) on Linux; on Windows through SetSystemTimeAdjustmentPrecise where the system has it, and
// SetSystemTimeAdjustment otherwise, alternating neighbouring values for a rate between two.
class SystemClockSetter final : public ClockSetter {
 public:
  SystemClockSetter();
  ~SystemClockSetter() override;
  SystemClockSetter(const SystemClockSetter&) = delete;
  SystemClockSetter& operator=(const SystemClockSetter&) = delete;

  bool Set(const SystemTime& utc) override;
  std::int64_t ResolutionNs() const override;
  bool SetRate(double ppm) override;
  void ReleaseRate() override;
  const char* RateBlocker() const override;

 private:
  struct RateSteering;  // the platform's
  RateSteering* rate_ = nullptr;
};

// Changes nothing: records the time and the rate it was asked to set and reports success (the
// rate kept or not as `keepsRate` says).
class DryRunClockSetter final : public ClockSetter {
 public:
  bool Set(const SystemTime& utc) override {
    last = utc;
    ++calls;
    return true;
  }
  bool SetRate(double ppm) override {
    ratePpm = ppm;
    ++rateCalls;
    return keepsRate;
  }
  void ReleaseRate() override {
    ratePpm = 0;
    released = true;
  }

  SystemTime last;
  int calls = 0;
  double ratePpm = 0;
  int rateCalls = 0;
  bool keepsRate = true;
  bool released = false;
};

}  // namespace clockagent
