// The system clock on POSIX: clock_settime(CLOCK_REALTIME), to the microsecond, and its rate
// through clock_adjtime(CLOCK_REALTIME) with ADJ_FREQUENCY alone.
#include <sys/timex.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "update/clock_discipline.h"
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

// The frequency the system had before the first SetRate since the last release, to hand back.
struct SystemClockSetter::RateSteering {
  bool steering = false;
  long systemFreq = 0;
};

SystemClockSetter::SystemClockSetter() = default;
SystemClockSetter::~SystemClockSetter() {
  ReleaseRate();
  delete rate_;
}

namespace {

// timex.freq is in units of 2^-16 ppm.
constexpr double kFreqPerPpm = 65536.0;

bool ReadFreq(long* freq) {
  timex tx{};
  if (clock_adjtime(CLOCK_REALTIME, &tx) < 0) return false;
  *freq = tx.freq;
  return true;
}

// Only the frequency: never ADJ_OFFSET nor any status, so the kernel's own loop stays as it is.
bool WriteFreq(long freq) {
  timex tx{};
  tx.modes = ADJ_FREQUENCY;
  tx.freq = freq;
  return clock_adjtime(CLOCK_REALTIME, &tx) >= 0;
}

}  // namespace

bool SystemClockSetter::SetRate(double ppm) {
  if (!(std::fabs(ppm) <= kLargestRatePpm)) return false;  // NaN too
  if (rate_ == nullptr) rate_ = new RateSteering;
  long systemFreq = rate_->systemFreq;
  if (!rate_->steering && !ReadFreq(&systemFreq)) return false;
  const long wanted = std::lround(ppm * kFreqPerPpm);
  if (!WriteFreq(wanted)) return false;  // refused: nothing changed
  rate_->steering = true;
  rate_->systemFreq = systemFreq;
  long kept = 0;
  return ReadFreq(&kept) && kept >= wanted - 1 && kept <= wanted + 1;
}

void SystemClockSetter::ReleaseRate() {
  if (rate_ == nullptr || !rate_->steering) return;
  WriteFreq(rate_->systemFreq);
  rate_->steering = false;
}

// A time daemon here is told of in the README: its machine feeds it through refclock instead.
const char* SystemClockSetter::RateBlocker() const { return ""; }

}  // namespace clockagent
