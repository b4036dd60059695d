// The system clock on Windows: SetSystemTime with a UTC SYSTEMTIME, to the millisecond, and its
// rate through the system's time adjustment.
#include <windows.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "update/clock_discipline.h"
#include "update/clock_setter.h"
#include "update/windows_time.h"

namespace clockagent {
namespace {

using GetPrecise = BOOL(WINAPI*)(PDWORD64, PDWORD64, PBOOL);
using SetPrecise = BOOL(WINAPI*)(DWORD64, BOOL);

// The right to change the clock, which the adjustment needs switched on (SetSystemTime switches it
// on by itself).
void EnableSystemTimeRight() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES wanted{1, {}};
  if (LookupPrivilegeValueA(nullptr, SE_SYSTEMTIME_NAME, &wanted.Privileges[0].Luid)) {
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr);
  }
  CloseHandle(token);
}

}  // namespace

// The precise adjustment (Windows 10 and Server 2016 on) where the system has it, in units of its
// own increment per period; otherwise the legacy one, 100 ns per clock interrupt. A rate between
// two whole values alternates them once a second, the remainder carried (AdjustmentDither).
struct SystemClockSetter::RateSteering {
  RateSteering() {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel != nullptr) {
      getPrecise = reinterpret_cast<GetPrecise>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemTimeAdjustmentPrecise")));
      setPrecise = reinterpret_cast<SetPrecise>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "SetSystemTimeAdjustmentPrecise")));
      if (getPrecise == nullptr || setPrecise == nullptr) getPrecise = nullptr, setPrecise = nullptr;
    }
    std::uint64_t increment = 0;
    found = Read(&foundAdjustment, &increment, &foundDisabled) && increment > 0;
    dither = AdjustmentDither(increment);
  }

  ~RateSteering() { StopAlternating(); }

  bool Read(std::uint64_t* adjustment, std::uint64_t* increment, BOOL* disabled) const {
    if (getPrecise != nullptr) {
      DWORD64 a = 0, i = 0;
      if (!getPrecise(&a, &i, disabled)) return false;
      *adjustment = a, *increment = i;
      return true;
    }
    DWORD a = 0, i = 0;
    if (!GetSystemTimeAdjustment(&a, &i, disabled)) return false;
    *adjustment = a, *increment = i;
    return true;
  }

  bool Write(std::uint64_t adjustment, BOOL disabled) const {
    if (setPrecise != nullptr) return setPrecise(adjustment, disabled) != FALSE;
    return SetSystemTimeAdjustment(static_cast<DWORD>(adjustment), disabled) != FALSE;
  }

  // Sets the next value, and reads back whether the system kept it.
  bool Apply() {
    const std::uint64_t value = dither.Next();
    std::uint64_t kept = 0, increment = 0;
    BOOL disabled = TRUE;
    return Write(value, FALSE) && Read(&kept, &increment, &disabled) && !disabled && kept == value;
  }

  void StartAlternating() {
    if (thread.joinable()) return;
    stop = false;
    thread = std::thread([this] {
      std::unique_lock<std::mutex> lock(mutex);
      while (!wake.wait_for(lock, std::chrono::seconds(1), [this] { return stop; })) Apply();
    });
  }

  void StopAlternating() {
    if (!thread.joinable()) return;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    wake.notify_all();
    thread.join();
  }

  GetPrecise getPrecise = nullptr;
  SetPrecise setPrecise = nullptr;
  bool found = false;  // the adjustment as it was before any rate was set, to hand back
  std::uint64_t foundAdjustment = 0;
  BOOL foundDisabled = TRUE;
  AdjustmentDither dither{0};
  std::mutex mutex;  // over the dither and the system's adjustment
  std::condition_variable wake;
  bool stop = false;
  std::thread thread;
};

SystemClockSetter::SystemClockSetter() = default;

SystemClockSetter::~SystemClockSetter() {
  ReleaseRate();
  delete rate_;
}

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

bool SystemClockSetter::SetRate(double ppm) {
  if (!(std::fabs(ppm) <= kLargestRatePpm)) return false;
  if (rate_ == nullptr) {
    EnableSystemTimeRight();
    rate_ = new RateSteering;
  }
  if (!rate_->found) return false;
  std::unique_lock<std::mutex> lock(rate_->mutex);
  rate_->dither.SetRate(ppm);
  if (!rate_->Apply()) return false;
  lock.unlock();
  rate_->StartAlternating();
  return true;
}

void SystemClockSetter::ReleaseRate() {
  if (rate_ == nullptr) return;
  rate_->StopAlternating();
  if (rate_->found) rate_->Write(rate_->foundAdjustment, rate_->foundDisabled);
}

const char* SystemClockSetter::RateBlocker() const {
  return WindowsTimeOverwrites() ? kWindowsTimeDisciplineText : "";
}

}  // namespace clockagent
