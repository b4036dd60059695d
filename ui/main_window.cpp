// The main window: its creation, its messages and commands, and what the update cycle, the
// service's follower and Find Receiver tell it.
#include "ui/main_window.h"

#include "receiver/system_serial_port.h"
#include "record/record_folder_win32.h"
#include "settings/registry_store.h"
#include "update/clock_setting.h"
#include "update/windows_time.h"
#include "w32time/provider_registration_win32.h"

namespace clockagent::ui {
namespace {

// The setup controls, in the order the schedule enables and disables them.
constexpr int kSetupControls[] = {ID_Panel_Setup,        ID_ComboBox_COM,     ID_ComboBox_BaudRate,
                                  ID_ComboBox_DataBits,  ID_ComboBox_Parity,  ID_ComboBox_StopBits,
                                  ID_ComboBox_Pulse,     ID_ComboBox_Protocol,  ID_CheckBox_Discipline,
                                  ID_MaskEdit_Interval,  ID_RadioGroup_TimeType,
                                  ID_RadioGroup_AutoStart};

// Off while Find Receiver searches: they would open the port searched.
constexpr int kFindCommands[] = {ID_SpeedButton_Start, ID_Control_Start, ID_SpeedButton_Refresh,
                                 ID_Control_Refresh};

}  // namespace

HICON LoadIconResource(HINSTANCE instance, const char* name) {
  return static_cast<HICON>(LoadImageA(instance, name, IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
}

TForm_Main::TForm_Main(HINSTANCE instance, HWND application, InfoWindows& info)
    : instance_(instance), application_(application), info_(info) {
  // The window, with the application icon, and its components from the layout.
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kMainWindowClass;
  appIcon_ = LoadIconResource(instance, "CAWHITESM");
  wc.hIcon = appIcon_;
  RegisterClassA(&wc);
  RegisterWidgetClasses(instance);
  CreateMenus();
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame{0, 0, Scaled(kMainLayout.width), Scaled(kMainLayout.height)};
  AdjustWindowRectEx(&frame, style, TRUE, WS_EX_CONTROLPARENT);
  hwnd_ = CreateWindowExA(WS_EX_CONTROLPARENT, kMainWindowClass, kMainLayout.caption, style, CW_USEDEFAULT,
                          CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                          application, menuBar_, instance, this);
  SendMessageA(application_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon_));
  SendMessageA(application_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon_));
  controls_.Build(instance, hwnd_, kMainLayout);
  // The layout's initial state: UTC, Auto Start off, Stop disabled.
  SendMessageA(Item(ID_TimeType_UTC), BM_SETCHECK, BST_CHECKED, 0);
  SendMessageA(Item(ID_AutoStart_OFF), BM_SETCHECK, BST_CHECKED, 0);
  EnableWindow(Item(ID_SpeedButton_Stop), FALSE);
  // Explorer announces a restart with "TaskbarCreated", and the icon is added again. The program
  // runs with the highest rights, and a process with raised rights hears that message from
  // Explorer only when it admits it.
  taskbarCreated_ = RegisterWindowMessageA("TaskbarCreated");
  ChangeWindowMessageFilterEx(hwnd_, taskbarCreated_, MSGFLT_ALLOW, nullptr);

  // The white icon in the notification area before any attempt.
  LoadTrayIcons();
  AddTrayIcon(TrayIconState::SleepingOk);

  // The hint bar follows the pointer; the speed buttons have tips.
  CreateTips();

  // The update cycle with its timers (port 1 and UTC in force until Start or Refresh Time), and
  // the settings.
  port_ = NewSystemSerialPort();
  Timer_Update.Attach(hwnd_);
  Timer_DARO.Attach(hwnd_);
  store_ = NewRegistryStore();
  engine_ = std::make_unique<UpdateEngine>(*port_, Timer_Update, Timer_DARO, clock_, *this);
  engine_->cycle.SetSettingsSaver(this);

  // Six hours until the first Start replaces it.
  Timer_Update.SetInterval(kDefaultUpdateIntervalMs);
  // The lists' default entries, then the stored settings over them.
  ShowDefaultSettings();
  LoadSettings();
  // The service, if it runs, does the updates; the window follows it from now on, and Auto
  // Start waits for the first answer (FirstLookAnswered): it is the window's only without a
  // service. Find Receiver posts its progress to the window too.
  finder_.Attach(hwnd_);
  follower_.Attach(hwnd_, WM_SERVICE_REPLY);
  SetTimer(hwnd_, kServiceTimerId, kServiceLookMs, nullptr);
}

TForm_Main::~TForm_Main() {
  follower_.Detach();  // its thread ends before the window it posts to
  finder_.Stop();      // so does the search's
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (trayMenu_ != nullptr) DestroyMenu(trayMenu_);
}

PortWait TForm_Main::PortWaitNow(std::intptr_t* handle) {
  *handle = -1;
  return engine_ != nullptr ? PortWaitFor(engine_->cycle, *port_, handle) : PortWait::TimersOnly;
}

void TForm_Main::BytesArrived() { engine_->cycle.BytesArrived(); }

void TForm_Main::AttemptBegan() {
  RemoveTrayIcons();
  AddTrayIcon(TrayIconState::InProgress);
}

void TForm_Main::TimeOfWeekReceived(const TimingFields& fields, TimeType timeType) {
  char text[kTimeOfWeekTextSize];
  FormatTimeOfWeek(ShownTimeOfWeek(fields, timeType), text);
  SetCaption(ID_Panel_Time, text);
}

void TForm_Main::ShowOutcome(UpdateOutcome outcome, std::int32_t successes, std::int32_t attempts) {
  SetCaption(ID_Panel_Status, StatusText(outcome));
  char counts[32];
  std::snprintf(counts, sizeof counts, "%d/%d", static_cast<int>(successes),
                static_cast<int>(attempts));
  SetCaption(ID_Panel_TotalUpdates, counts);
}

void TForm_Main::AttemptEnded(const AttemptResult& result) {
  ShowOutcome(result.outcome, result.successes, result.attempts);
  tip_ = TipText(&result, LocalTimeText(result.ended.systemNs));
  RemoveTrayIcons();
  AddTrayIcon(IconStateAfter(result.outcome));
  ShowReason(ReasonText(result));
  ShowDiscipline(result.disciplined, result.ratePpm, result.disciplineNote);
  if (result.PulseMissed()) ShowNotice(result.PulseText().c_str());
  if (!recorder_.AttemptEnded(result)) {  // said once; the updates go on
    const std::string said = "Cannot write the record " + recorder_.RecordPath() + ": " +
                             recorder_.RecordFailure();
    ShowNotice(said.c_str());
    recorder_.Note(said + "; the updates go on.");
  }
}

void TForm_Main::ScheduleChanged(bool started) {
  SetEnabled(ID_SpeedButton_Stop, started);
  SetEnabled(ID_Control_Stop, started);
  SetEnabled(ID_SpeedButton_Start, !started);
  SetEnabled(ID_Control_Start, !started);
  for (int id : kSetupControls) SetEnabled(id, !started);
  SetEnabled(ID_SpeedButton_Find, !started);
  SetEnabled(ID_Control_Find, !started);
  if (follower_.Runs()) SetEnabled(ID_RadioGroup_AutoStart, false);  // the service's, not ours
  SetCaption(ID_Panel_OnOff, started ? "On" : "Off");
}

void TForm_Main::WarnOfWindowsTime() {
  if (!UpdatesOn()) return;
  if (!recorder_.WindowsTimeToTell()) return;
  // Said as the first attempt begins: in the hint bar and the Event Log, never in a message box,
  // whose modal loop would leave the port unread and the attempt timed late.
  ShowNotice(kWindowsTimeAdvice);
  recorder_.Note(kWindowsTimeAdvice);
}

void TForm_Main::Refused(const char* message) {
  // A refused Start while an attempt of an earlier run still polls: the hint bar, as above.
  if (engine_->cycle.Polling()) {
    ShowNotice(message);
    return;
  }
  MessageBoxA(hwnd_, message, "Error", MB_OK | MB_ICONEXCLAMATION);
}

void TForm_Main::Restore() {
  // Centred on the screen at the first showing; afterwards where the user left it.
  if (!shownBefore_) {
    shownBefore_ = true;
    CentreOnScreen(hwnd_);
  }
  ShowWindow(hwnd_, SW_SHOW);
  // Restored without being activated, so that the main window, not the application's own, is
  // the one the focus comes back to.
  if (IsIconic(application_)) ShowWindow(application_, SW_SHOWNOACTIVATE);
  ShowWindow(application_, SW_HIDE);
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  BringWindowToTop(hwnd_);
}

void TForm_Main::FormClose() {
  ShowWindow(application_, SW_HIDE);
  ShowWindow(hwnd_, SW_HIDE);
}

void TForm_Main::FormDestroy() {
  KillTimer(hwnd_, kServiceTimerId);
  finder_.Stop();
  if (engine_ != nullptr) engine_->cycle.Abandon();  // an attempt polling: no outcome for it
  RemoveTrayIcons();
  for (HICON& icon : trayIcons_) {
    if (icon != nullptr) DestroyIcon(icon);
    icon = nullptr;
  }
}

bool TForm_Main::UpdatesOn() const {
  return follower_.Runs() ? follower_.Started() : engine_->cycle.Started();
}

void TForm_Main::ServiceModeChanged(bool serviceRuns) {
  // Only one of the two runs the updates: a running service's schedule wins, and the window's
  // own stops, an attempt of its in progress included, so that the port and the record have one
  // user.
  if (serviceRuns && engine_->cycle.Started()) engine_->cycle.StopUpdates();
  if (serviceRuns) engine_->cycle.Abandon();
  // Auto Start is the service's while it runs, which the group says plainly.
  SetWindowTextA(Item(ID_RadioGroup_AutoStart), serviceRuns ? kAutoStartByService : "Auto Start");
  SetEnabled(ID_RadioGroup_AutoStart, !serviceRuns && !engine_->cycle.Started());
  if (!serviceRuns) ScheduleChanged(engine_->cycle.Started());  // the window's own schedule again
}

void TForm_Main::ShowServiceState(const ServiceState& state, const ServiceState* shown) {
  if (shown == nullptr || state.started != shown->started) ScheduleChanged(state.started);
  if (state.ended) {
    ShowOutcome(state.outcome, state.successes, state.attempts);
    ShowReason(state.reason);
    if (shown == nullptr || state.ratePpm != shown->ratePpm || state.ended != shown->ended) {
      ShowDiscipline(state.disciplined, state.ratePpm, "");
    }
  }
  if (!state.timeOfWeek.empty()) SetCaption(ID_Panel_Time, state.timeOfWeek.c_str());
  std::string tip = kApplicationTitle;
  if (state.ended) {
    AttemptResult last;
    last.outcome = state.outcome;
    last.offsetSeconds = state.offsetSeconds;
    last.disciplined = state.disciplined;
    last.ratePpm = state.ratePpm;
    tip = TipText(&last, LocalTimeText(state.endedNs));
  }
  const TrayIconState icon = state.polling ? TrayIconState::InProgress
                             : state.ended ? IconStateAfter(state.outcome)
                                           : TrayIconState::SleepingOk;
  if (shown == nullptr || icon != trayState_ || tip != tip_) {
    tip_ = tip;
    RemoveTrayIcons();
    AddTrayIcon(icon);
  }
}

void TForm_Main::FirstLookAnswered() {
  if (!follower_.Runs() && ItemIndex(ID_RadioGroup_AutoStart) == 0) {
    // Auto Start, as Start, leaves the clock to Windows Time's provider: said in the hint bar.
    if (FindProvider() == ProviderPresence::Enabled) {
      ShowNotice(kProviderRefusal);
      return;
    }
    engine_->cycle.StartUpdates();
    WarnOfWindowsTime();
  }
}

void TForm_Main::StateAfterStart() { WarnOfWindowsTime(); }

void TForm_Main::ServiceMessage(const char* text, UINT icon) {
  MessageBoxA(hwnd_, text, kApplicationTitle, MB_OK | icon);
}

void TForm_Main::SpeedButton_FindClick() {
  // While On the button and the menu item are disabled; a command sent regardless does nothing,
  // but a second click always stops a search.
  if (!finder_.Searching() && !IsWindowEnabled(Item(ID_SpeedButton_Find))) return;
  finder_.Click();
}

void TForm_Main::SearchBegan() {
  for (int id : kFindCommands) SetEnabled(id, false);
}

void TForm_Main::SearchEnded() {
  const bool started = UpdatesOn();
  SetEnabled(ID_SpeedButton_Start, !started);
  SetEnabled(ID_Control_Start, !started);
  SetEnabled(ID_SpeedButton_Refresh, true);
  SetEnabled(ID_Control_Refresh, true);
}

void TForm_Main::ShowFindNotice(const std::string& notice) {
  ShowNotice(notice.c_str());
  findSays_ = true;
}

void TForm_Main::ReceiverFound(const PortFinding& finding) {
  ShowPortSettings(finding.port.number, finding.line);
  SetItemIndex(ID_ComboBox_Protocol, static_cast<int>(finding.protocol));
}

void TForm_Main::NoReceiverFound(const std::string& report) {
  ShowNotice("");
  MessageBoxA(hwnd_, report.c_str(), "Find Receiver", MB_OK | MB_ICONINFORMATION);
}

bool TForm_Main::RefusedForProvider() {
  // Windows Time keeps the clock from the receiver: two programs would set it.
  if (FindProvider() != ProviderPresence::Enabled) return false;
  Refused(kProviderRefusal);
  return true;
}

void TForm_Main::Command(int id, int code) {
  switch (id) {
    case ID_SpeedButton_Start:
    case ID_Control_Start:
      if (RefusedForProvider()) break;
      if (follower_.Runs()) {
        follower_.Ask(ServiceRequest::Start, Choices());
      } else {
        engine_->cycle.StartUpdates();
        WarnOfWindowsTime();
      }
      break;
    case ID_SpeedButton_Stop:
    case ID_Control_Stop:
      if (follower_.Runs()) {
        follower_.Ask(ServiceRequest::Stop);
      } else {
        engine_->cycle.StopUpdates();
      }
      break;
    case ID_SpeedButton_Refresh:
    case ID_Control_Refresh:
    case ID_SystemTray_Refresh:
      if (RefusedForProvider()) break;
      if (follower_.Runs()) {
        follower_.Ask(ServiceRequest::Refresh);
      } else {
        engine_->cycle.RefreshTime();
      }
      break;
    case ID_SpeedButton_Find:
    case ID_Control_Find:
      SpeedButton_FindClick();
      break;
    case ID_Control_Close:
    case ID_SystemTray_Close:
      SendMessageA(hwnd_, WM_CLOSE, 0, 0);
      break;
    case ID_Control_Exit:
    case ID_SystemTray_Exit:
      terminating_ = true;
      PostQuitMessage(0);
      break;
    case ID_SystemTray_Restore:
      Restore();
      break;
    case ID_HelpPkts:
      info_.ShowPackets();
      break;
    case ID_HelpIcons:
      info_.ShowIcons();
      break;
    case ID_HelpErrors:
      info_.ShowErrors();
      break;
    case ID_HelpAbout:
    case ID_SystemTray_About:
      info_.ShowAbout();
      break;
    case ID_AutoStart_ON:
    case ID_AutoStart_OFF:
      if (code == BN_CLICKED && ItemIndex(ID_RadioGroup_AutoStart) != autoStartIndex_) {
        autoStartIndex_ = ItemIndex(ID_RadioGroup_AutoStart);
        RadioGroup_AutoStartClick();
      }
      break;
    default:
      break;
  }
}

LRESULT CALLBACK TForm_Main::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TForm_Main*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->hwnd_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TForm_Main*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT TForm_Main::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kTrayCallbackMessage) {
    TrayIconMessage(lParam);
    return 0;
  }
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {  // Explorer restarted
    AddTrayIcon(trayState_);
    return 0;
  }
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == kServiceTimerId) follower_.Look();
      if (wParam == Timer_Update.id() && Timer_Update.Elapsed()) engine_->cycle.Timer_UpdateTimer();
      if (wParam == Timer_DARO.id() && Timer_DARO.Elapsed()) engine_->cycle.Timer_DAROTimer();
      return 0;
    case WM_CLOSE:
      if (terminating_) break;
      FormClose();
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {  // the whole application goes to the taskbar
        ShowWindow(hwnd_, SW_HIDE);
        ShowWindow(application_, SW_MINIMIZE);
        return 0;
      }
      break;
    case WM_MENUSELECT:
      if (HIWORD(wParam) == 0xFFFF && lParam == 0) {
        menuActive_ = false;
      } else {
        menuActive_ = true;
        ShowHint("");  // menu items have no hints
      }
      break;
    case WM_EXITMENULOOP:
      menuActive_ = false;
      break;
    case WM_SERVICE_REPLY:
      follower_.Replied(lParam);
      return 0;
    case WM_FIND_PROGRESS:
      finder_.Progress(static_cast<int>(wParam));
      return 0;
    case WM_FIND_ENDED:
      finder_.Ended();
      return 0;
    case WM_RESTORE_REQUEST:
      Restore();
      return 0;
    case WM_APPLICATION_RESTORED:  // the taskbar entry was restored; the entry stays
      ShowWindow(hwnd_, SW_SHOW);
      SetForegroundWindow(hwnd_);
      return 0;
    case WM_ACTIVATE:
      if (KeepFocus(hwnd_, wParam, &focus_)) return 0;
      break;
    case WM_ENDSESSION:
      if (wParam) FormDestroy();
      return 0;
    case WM_DESTROY:
      FormDestroy();
      return 0;
    case WM_NCDESTROY: {
      HWND window = hwnd_;
      hwnd_ = nullptr;
      return DefWindowProcA(window, message, wParam, lParam);
    }
  }
  return DefWindowProcA(hwnd_, message, wParam, lParam);
}

}  // namespace clockagent::ui
