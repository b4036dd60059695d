// The main window's controls and timers held in memory: the view of front ends without a window.
#pragma once

#include <string>

#include "update/main_view.h"

namespace clockagent {

class ViewState : public MainView {
 public:
  // As the main window is created: COM 1, 9600, 8 data bits, no parity, 1 stop bit, "00 06:00",
  // UTC, Auto Start off; stopped, "Off", "0/0".
  ViewState();

  int ItemIndex(Control control) const override { return index[Slot(control)]; }
  void SetItemIndex(Control control, int value) override { index[Slot(control)] = value; }
  std::string IntervalText() const override { return interval; }
  void SetIntervalText(const char* text) override { interval = text; }
  void SetEnabled(Control control, bool value) override { enabled[Slot(control)] = value; }
  void SetCaption(Panel panel, const char* text) override {
    caption[static_cast<int>(panel)] = text;
  }
  void ShowMessage(const char* text, const char*, unsigned) override { message = text; }
  void RemoveTrayIcons() override { trayShown = false; }
  void AddTrayIcon(TrayIconState state) override {
    tray = state;
    trayShown = true;
  }

  const std::string& Caption(Panel panel) const { return caption[static_cast<int>(panel)]; }
  bool IsEnabled(Control control) const { return enabled[Slot(control)]; }

  int index[kControlCount];
  bool enabled[kControlCount];
  std::string caption[kPanelCount];
  std::string interval = "00 06:00";
  std::string message;  // the text of the last message box
  TrayIconState tray = TrayIconState::SleepingOk;
  bool trayShown = false;

 protected:
  static int Slot(Control control) { return static_cast<int>(control); }
};

class TimerState : public Timer {
 public:
  explicit TimerState(std::uint32_t milliseconds, bool isEnabled = false)
      : interval(milliseconds), enabled(isEnabled) {}
  void SetEnabled(bool value) override { enabled = value; }
  bool Enabled() const override { return enabled; }
  void SetInterval(std::uint32_t milliseconds) override { interval = milliseconds; }
  std::uint32_t Interval() const override { return interval; }

  std::uint32_t interval;
  bool enabled;
};

}  // namespace clockagent
