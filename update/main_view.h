// What the update cycle and the settings need of the main window: its setup controls, its result
// panels, its message box and the notification-area icon, and timers.
#pragma once

#include <cstdint>
#include <string>

#include "receiver/serial_link.h"
#include "update/update_outcome.h"

namespace clockagent {

enum class Control : int {
  SpeedButton_Start,
  Control_Start,
  SpeedButton_Stop,
  Control_Stop,
  Panel_Setup,
  ComboBox_COM,
  ComboBox_BaudRate,
  ComboBox_DataBits,
  ComboBox_Parity,
  ComboBox_StopBits,
  MaskEdit_Interval,
  RadioGroup_TimeType,
  RadioGroup_AutoStart,
};
constexpr int kControlCount = 13;

enum class Panel : int { Panel_Status, Panel_TotalUpdates, Panel_OnOff, Panel_Time };
constexpr int kPanelCount = 4;

// Message-box flags as Windows has them: an OK button with the exclamation icon.
constexpr unsigned kMessageOkExclamation = 0x30;

class MainView {
 public:
  // The selected entry of a drop-down list or radio group; -1 when none is selected.
  virtual int ItemIndex(Control control) const = 0;
  // Selects an entry. Selecting does not run the control's click handler.
  virtual void SetItemIndex(Control control, int index) = 0;

  virtual std::string IntervalText() const = 0;  // MaskEdit_Interval, "dd hh:mm"
  virtual void SetIntervalText(const char* text) = 0;

  virtual void SetEnabled(Control control, bool enabled) = 0;
  virtual void SetCaption(Panel panel, const char* text) = 0;

  // A modal message box with an OK button.
  virtual void ShowMessage(const char* text, const char* title, unsigned flags) = 0;

  virtual void RemoveTrayIcons() = 0;
  virtual void AddTrayIcon(TrayIconState state) = 0;

  // The name under which the port of a port number is opened: "\\.\COM%d".
  virtual void PortName(int portNumber, char (&name)[kPortNameSize]) const {
    FormatPortName(portNumber, name);
  }

 protected:
  ~MainView() = default;
};

// A timer whose ticks arrive as events on the one thread. Setting the interval of an enabled
// timer starts its period afresh; enabling starts it from now.
class Timer {
 public:
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetInterval(std::uint32_t milliseconds) = 0;
  virtual std::uint32_t Interval() const = 0;

 protected:
  ~Timer() = default;
};

}  // namespace clockagent
