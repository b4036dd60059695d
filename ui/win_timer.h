// A timer of a window: WM_TIMER ticks on the GUI thread, for any 32-bit period in milliseconds.
#pragma once

#include <windows.h>

#include "update/timer.h"

namespace clockagent::ui {

class WinTimer final : public Timer {
 public:
  WinTimer(UINT_PTR id, std::uint32_t interval, bool enabled)
      : id_(id), interval_(interval), enabled_(enabled) {}

  void Attach(HWND window) {
    window_ = window;
    if (enabled_) Arm(interval_);
  }
  void SetEnabled(bool enabled) override {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled) {
      Arm(interval_);
    } else if (window_ != nullptr) {
      KillTimer(window_, id_);
    }
  }
  bool Enabled() const override { return enabled_; }
  void SetInterval(std::uint32_t interval) override {
    interval_ = interval;
    if (enabled_) Arm(interval_);
  }
  std::uint32_t Interval() const override { return interval_; }

  // For WM_TIMER with this timer's id: true when its period is over (a tick to handle). Periods
  // beyond what SetTimer takes (about 24.8 days) are waited out in parts.
  bool Elapsed() {
    if (!enabled_) return false;
    const ULONGLONG now = GetTickCount64();
    if (now < due_) {
      Arm(static_cast<std::uint32_t>(due_ - now), false);
      return false;
    }
    due_ += interval_;
    if (due_ <= now) due_ = now + interval_;  // ticks missed while busy are not made up
    Arm(static_cast<std::uint32_t>(due_ - now), false);
    return true;
  }

  UINT_PTR id() const { return id_; }

 private:
  // Sets the window timer to go off after `wait`; a restart also starts a new period from now.
  void Arm(std::uint32_t wait, bool restart = true) {
    if (restart) due_ = GetTickCount64() + interval_;
    if (window_ == nullptr) return;
    const UINT longest = USER_TIMER_MAXIMUM;
    SetTimer(window_, id_, wait < USER_TIMER_MINIMUM ? USER_TIMER_MINIMUM : (wait > longest ? longest : wait),
             nullptr);
  }

  HWND window_ = nullptr;
  UINT_PTR id_;
  std::uint32_t interval_;
  bool enabled_;
  ULONGLONG due_ = 0;
};

}  // namespace clockagent::ui
