// The main window: setup controls, commands, results, the notification-area icon, and the update
// cycle and settings it drives. Its parts live in main_window.cpp, tray_icon.cpp,
// window_settings.cpp and menus_and_hints.cpp; the service's following and Find Receiver are
// objects of their own that it shows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "receiver/daro_link.h"
#include "receiver/serial_port.h"
#include "record/recorder_win32.h"
#include "service/service_state.h"
#include "settings/settings_store.h"
#include "ui/info_windows.h"
#include "ui/layout.h"
#include "ui/receiver_finder.h"
#include "ui/service_follower.h"
#include "ui/widgets.h"
#include "ui/win_timer.h"
#include "update/clock_setter.h"
#include "update/cycle_front_end.h"
#include "update/timer_loop.h"
#include "update/update_cycle.h"

namespace clockagent::ui {

constexpr UINT kTrayCallbackMessage = 2025;
constexpr UINT kTrayIconIds[3] = {1005, 1006, 1007};  // by TrayIconState
constexpr UINT WM_RESTORE_REQUEST = WM_APP + 1;        // from a second start of the program
constexpr UINT WM_APPLICATION_RESTORED = WM_APP + 2;   // from the application's own window
constexpr UINT WM_SERVICE_REPLY = WM_APP + 3;         // a ServiceAsker's answer
constexpr UINT_PTR kServiceTimerId = 3;                // how often the service is looked at
constexpr UINT kServiceLookMs = 500;

// An icon of the program's resources, at the size it was drawn.
HICON LoadIconResource(HINSTANCE instance, const char* name);

// The window is the update cycle's front end: its controls hold the settings (the cycle reads them
// through Choices) and show what the cycle tells it. While the ClockAgent service runs, it shows
// the service's state instead, and hands it Start, Stop and Refresh Time.
class TForm_Main final : public CycleFrontEnd,
                         public SettingsSaver,
                         private ServiceView,
                         private FinderView {
 public:
  TForm_Main(HINSTANCE instance, HWND application, InfoWindows& info);
  ~TForm_Main();
  TForm_Main(const TForm_Main&) = delete;
  TForm_Main& operator=(const TForm_Main&) = delete;

  HWND handle() const { return hwnd_; }

  // CycleFrontEnd
  CycleChoices Choices() override;
  void AttemptBegan() override;
  void TimeOfWeekReceived(const TimingFields& fields, TimeType timeType) override;
  void AttemptEnded(const AttemptResult& result) override;
  void ScheduleChanged(bool started) override;
  void Refused(const char* message) override;

  // SettingsSaver: Start stores what it put in force and what the lists and Auto Start show.
  void SaveSettings() override;
  void LoadSettings();
  void RadioGroup_AutoStartClick();

  void RemoveTrayIcons();
  void AddTrayIcon(TrayIconState state);

  // The hint of what is under the pointer into the hint bar; run when the message loop is idle.
  void UpdateHint();

  // How the message loop waits on the port beside its messages now (see PortWaitFor), and for
  // Arrival the event handle to wait on. BytesArrived reads what has come.
  PortWait PortWaitNow(std::intptr_t* handle);
  void BytesArrived();

  void Restore();
  void FormClose();
  void FormDestroy();
  void TrayIconMessage(LPARAM mouseEvent);
  void SetTerminating() { terminating_ = true; }

  // Find Receiver: a search while the updates are Off; a second click stops it.
  void SpeedButton_FindClick();

 private:
  // ServiceView. When the service runs, the window never polls the port. Auto Start has no
  // meaning then, and says so.
  void ServiceModeChanged(bool serviceRuns) override;
  void ShowServiceState(const ServiceState& state, const ServiceState* shown) override;
  void FirstLookAnswered() override;
  void StateAfterStart() override;
  void ServiceNotice(const char* notice) override { ShowNotice(notice); }
  void ServiceMessage(const char* text, UINT icon) override;
  void ServiceRefused(const char* message) override { Refused(message); }

  // FinderView: the search's progress in the hint bar, a receiver found selected in the lists.
  void SearchBegan() override;
  void SearchEnded() override;
  void ShowFindNotice(const std::string& notice) override;
  void ReceiverFound(const PortFinding& finding) override;
  void NoReceiverFound(const std::string& report) override;

  // Whether the updates are On: the service's schedule while it runs, else the window's own.
  bool UpdatesOn() const;
  // The status and the counters after an attempt, the window's own or the service's.
  void ShowOutcome(UpdateOutcome outcome, std::int32_t successes, std::int32_t attempts);
  // After Start or Auto Start: Windows Time taking the clock from the network is said once a run.
  void WarnOfWindowsTime();
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Command(int id, int code);
  // Start and Refresh Time while Windows Time's provider is enabled: refused with the reason.
  bool RefusedForProvider();
  void CreateMenus();  // menus_and_hints.cpp
  void CreateTips();
  void LoadTrayIcons();  // tray_icon.cpp
  void ShowDefaultSettings();  // window_settings.cpp: port 1 and the lines' default entries
  void ShowPortSettings(int portNumber, const SerialLineSettings& line);
  HWND Item(int id) const { return controls_[id]; }
  int ItemIndex(int id) const;
  void SetItemIndex(int id, int index);
  void SetEnabled(int id, bool enabled);
  void SetCaption(int id, const char* text);
  void ShowHint(const char* hint);
  // A message that stays in the hint bar while the pointer is over no control's hint: what the
  // window has to say while an attempt may poll the port, where a message box would hold the
  // loop that reads it.
  void ShowNotice(const char* notice);
  // Why the last attempt's time was refused, as a notice; empty: not refused.
  void ShowReason(const std::string& reason);
  // The discipline in the hint bar: why it stopped (`note`), else the rate it holds the clock at.
  void ShowDiscipline(bool disciplined, double ratePpm, const char* note);
  void SetMenuEnabled(int id, bool enabled);

  HINSTANCE instance_;
  HWND application_;
  InfoWindows& info_;
  HWND hwnd_ = nullptr;
  Controls controls_;
  HWND focus_ = nullptr;  // the control that had the focus when the window was last active
  HMENU menuBar_ = nullptr;
  HMENU trayMenu_ = nullptr;
  HWND tips_ = nullptr;
  HICON appIcon_ = nullptr;
  HICON trayIcons_[3] = {};
  TrayIconState trayState_ = TrayIconState::SleepingOk;
  UINT taskbarCreated_ = 0;
  bool menuActive_ = false;
  bool terminating_ = false;
  bool shownBefore_ = false;
  int autoStartIndex_ = 1;
  std::string hint_;
  std::string tip_ = kApplicationTitle;  // the icon's tip: the program, and the last outcome
  std::string notice_;
  std::string reasonShown_;  // the refusal ShowReason last showed
  bool findSays_ = false;    // the notice is the search's
  ServiceFollower follower_{*this};
  ReceiverFinder finder_{*this};
  Recorder recorder_;
  bool maxCorrectionWarned_ = false;  // kBadMaxCorrectionWarning said

  std::unique_ptr<SerialPort> port_;
  SystemClockSetter clock_;
  WinTimer Timer_Update{1, 60000, false};
  WinTimer Timer_DARO{2, kPollIntervalMs, true};
  std::unique_ptr<SettingsStore> store_;
  std::unique_ptr<UpdateEngine> engine_;
};

}  // namespace clockagent::ui
