// The main window.
#include "ui/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "receiver/system_serial_port.h"
#include "record/record_folder_win32.h"
#include "service/service_pipes_win32.h"
#include "settings/registry_store.h"
#include "ui/mask_edit.h"
#include "update/clock_setting.h"
#include "update/interval_text.h"
#include "update/windows_time.h"

namespace clockagent::ui {
namespace {

// The first form of the notification-area record: the size field and a 64-byte tip. (In a
// 64-bit process that first form is 104 bytes long, its handles being wider.)
static_assert(NOTIFYICONDATAA_V1_SIZE == (sizeof(void*) == 4 ? 88 : 104), "first record form");

// The setup controls, in the order the schedule enables and disables them.
constexpr int kSetupControls[] = {ID_Panel_Setup,        ID_ComboBox_COM,     ID_ComboBox_BaudRate,
                                  ID_ComboBox_DataBits,  ID_ComboBox_Parity,  ID_ComboBox_StopBits,
                                  ID_MaskEdit_Interval,  ID_RadioGroup_TimeType,
                                  ID_RadioGroup_AutoStart};

// The drop-down lists of the line settings, in the order of kLineLists.
constexpr int kLineListControls[] = {ID_ComboBox_BaudRate, ID_ComboBox_DataBits, ID_ComboBox_Parity,
                                     ID_ComboBox_StopBits};

// The two buttons of a radio group.
bool ButtonsOf(int group, int* first, int* second) {
  if (group == ID_RadioGroup_TimeType) {
    *first = ID_TimeType_UTC, *second = ID_TimeType_GPS;
  } else if (group == ID_RadioGroup_AutoStart) {
    *first = ID_AutoStart_ON, *second = ID_AutoStart_OFF;
  } else {
    return false;
  }
  return true;
}

HICON LoadIconResource(HINSTANCE instance, const char* name) {
  return static_cast<HICON>(LoadImageA(instance, name, IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
}

}  // namespace

TForm_Main::TForm_Main(HINSTANCE instance, HWND application, InfoWindows& info)
    : instance_(instance), application_(application), info_(info), record_(RecordPath()) {
  MakeRecordFolder();
  // 1. The window and its components from the layout.
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kMainWindowClass;
  // 2. The application icon.
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

  // 3, 4. The tray icons, and the white one added before any attempt.
  trayIcons_[0] = LoadIconResource(instance, "CAWHITESM");
  trayIcons_[1] = LoadIconResource(instance, "CABLUESM");
  trayIcons_[2] = LoadIconResource(instance, "CAYELLOWSM");
  AddTrayIcon(TrayIconState::SleepingOk);

  // 5. Hints: the hint bar follows the pointer; tips on the speed buttons.
  CreateTips();

  // The update cycle with its timers (port 1 and UTC in force until Start or Refresh Time), and
  // the settings.
  port_ = NewSystemSerialPort();
  Timer_Update.Attach(hwnd_);
  Timer_DARO.Attach(hwnd_);
  store_ = NewRegistryStore();
  engine_ = std::make_unique<UpdateEngine>(*port_, Timer_Update, Timer_DARO, clock_, *this);
  engine_->cycle.SetSettingsSaver(this);

  // 6. Six hours until the first Start replaces it.
  Timer_Update.SetInterval(kDefaultUpdateIntervalMs);
  // 7. The default list entries.
  SetItemIndex(ID_ComboBox_COM, 0);
  const SerialLineSettings lists;
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    SetItemIndex(kLineListControls[i], lists.*kLineLists[i].index);
  }
  // 9. The stored settings.
  LoadSettings();
  // The service, if it runs, does the updates; the window follows it from now on.
  FollowService();
  SetTimer(hwnd_, kServiceTimerId, kServiceLookMs, nullptr);
  // 10. Auto Start.
  if (!serviceMode_ && ItemIndex(ID_RadioGroup_AutoStart) == 0) {
    engine_->cycle.StartUpdates();
    WarnOfWindowsTime();
  }
}

TForm_Main::~TForm_Main() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (trayMenu_ != nullptr) DestroyMenu(trayMenu_);
}

void TForm_Main::CreateMenus() {
  menuBar_ = CreateMenu();
  HMENU current = nullptr;
  for (int i = 0; i < kMainMenuCount; ++i) {
    const MenuSpec& m = kMainMenu[i];
    if (m.id == -1) {
      current = CreatePopupMenu();
      AppendMenuA(menuBar_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(current), m.caption);
    } else if (m.id == 0) {
      AppendMenuA(current, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuA(current, MF_STRING | (m.enabled ? MF_ENABLED : MF_GRAYED),
                  static_cast<UINT_PTR>(m.id), m.caption);
    }
  }
  trayMenu_ = CreatePopupMenu();
  for (int i = 0; i < kTrayMenuCount; ++i) {
    const MenuSpec& m = kTrayMenu[i];
    if (m.id == 0) {
      AppendMenuA(trayMenu_, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuA(trayMenu_, MF_STRING | (m.enabled ? MF_ENABLED : MF_GRAYED),
                  static_cast<UINT_PTR>(m.id), m.caption);
    }
  }
}

void TForm_Main::CreateTips() {
  tips_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                          nullptr, instance_, nullptr);
  SendMessageA(tips_, TTM_SETDELAYTIME, TTDT_INITIAL, 500);
  SendMessageA(tips_, TTM_SETDELAYTIME, TTDT_AUTOPOP, 5000);
  for (int id : {ID_SpeedButton_Start, ID_SpeedButton_Stop, ID_SpeedButton_Refresh}) {
    const ControlSpec* spec = RowOf(Item(id));
    // One tool on the button, and one on the tool bar over the same place, which is what
    // receives the mouse while the button is disabled.
    TOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(Item(id));
    tool.lpszText = const_cast<char*>(spec->hint);
    SendMessageA(tips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    TOOLINFOA area{};
    area.cbSize = sizeof area;
    area.uFlags = TTF_SUBCLASS;
    area.hwnd = Item(ID_Panel2);
    area.uId = static_cast<UINT_PTR>(id);
    GetWindowRect(Item(id), &area.rect);
    MapWindowPoints(nullptr, area.hwnd, reinterpret_cast<POINT*>(&area.rect), 2);
    area.lpszText = const_cast<char*>(spec->hint);
    SendMessageA(tips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&area));
  }
}

int TForm_Main::ItemIndex(int id) const {
  int first = 0, second = 0;
  if (ButtonsOf(id, &first, &second)) {
    if (SendMessageA(Item(first), BM_GETCHECK, 0, 0) == BST_CHECKED) return 0;
    if (SendMessageA(Item(second), BM_GETCHECK, 0, 0) == BST_CHECKED) return 1;
    return -1;
  }
  return static_cast<int>(SendMessageA(Item(id), CB_GETCURSEL, 0, 0));
}

void TForm_Main::SetItemIndex(int id, int index) {
  int first = 0, second = 0;
  if (ButtonsOf(id, &first, &second)) {
    SendMessageA(Item(first), BM_SETCHECK, index == 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageA(Item(second), BM_SETCHECK, index == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    if (id == ID_RadioGroup_AutoStart) autoStartIndex_ = index;
    return;
  }
  SendMessageA(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void TForm_Main::SetMenuEnabled(int id, bool enabled) {
  EnableMenuItem(menuBar_, static_cast<UINT>(id), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void TForm_Main::SetEnabled(int id, bool enabled) {
  if (id == ID_Control_Start || id == ID_Control_Stop) {
    SetMenuEnabled(id, enabled);
    DrawMenuBar(hwnd_);
    return;
  }
  EnableWindow(Item(id), enabled ? TRUE : FALSE);
  int first = 0, second = 0;
  if (ButtonsOf(id, &first, &second)) {
    EnableWindow(Item(first), enabled ? TRUE : FALSE);
    EnableWindow(Item(second), enabled ? TRUE : FALSE);
  }
}

void TForm_Main::SetCaption(int id, const char* text) { SetWindowTextA(Item(id), text); }

CycleChoices TForm_Main::Choices() {
  CycleChoices choices;
  choices.port.number = ItemIndex(ID_ComboBox_COM) + 1;
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    choices.line.*kLineLists[i].index = ItemIndex(kLineListControls[i]);
  }
  choices.timeType = static_cast<TimeType>(ItemIndex(ID_RadioGroup_TimeType));
  choices.intervalMs = IntervalMilliseconds(IntervalFieldText(Item(ID_MaskEdit_Interval)).c_str());
  choices.latencyMs = LoadLatency(*store_);
  return choices;
}

std::intptr_t TForm_Main::ArrivalHandle() {
  return engine_ != nullptr && engine_->cycle.WaitsForPacketStart() ? port_->ArrivalHandle() : -1;
}

bool TForm_Main::Polling() const { return engine_ != nullptr && engine_->cycle.Polling(); }

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
  if (!record_.Path().empty() && !record_.Append(result) && !recordNoted_) {
    recordNoted_ = true;  // said once; the updates go on
    ShowHint(("Cannot write the record " + record_.Path()).c_str());
  }
  events_.AttemptEnded(result);
}

void TForm_Main::ScheduleChanged(bool started) {
  SetEnabled(ID_SpeedButton_Stop, started);
  SetEnabled(ID_Control_Stop, started);
  SetEnabled(ID_SpeedButton_Start, !started);
  SetEnabled(ID_Control_Start, !started);
  for (int id : kSetupControls) SetEnabled(id, !started);
  if (serviceMode_) SetEnabled(ID_RadioGroup_AutoStart, false);  // the service's, not ours
  SetCaption(ID_Panel_OnOff, started ? "On" : "Off");
}

void TForm_Main::WarnOfWindowsTime() {
  if (windowsTimeTold_ || !(serviceMode_ ? serviceShown_.started : engine_->cycle.Started())) return;
  if (!WindowsTimeOverwrites()) return;
  windowsTimeTold_ = true;
  MessageBoxA(hwnd_, kWindowsTimeAdvice, kApplicationTitle, MB_OK | MB_ICONWARNING);
}

void TForm_Main::FollowService() {
  std::string reply;
  ServiceState state;
  const bool runs = AskService(kStatePipeName, EncodeRequest(ServiceRequest::State), &reply) ==
                        PipeAnswer::Answered &&
                    DecodeState(reply, &state);
  if (runs != serviceMode_) {
    serviceMode_ = runs;
    serviceShownValid_ = false;
    // Auto Start is the service's while it runs, which the group says plainly.
    SetWindowTextA(Item(ID_RadioGroup_AutoStart), runs ? kAutoStartByService : "Auto Start");
    SetEnabled(ID_RadioGroup_AutoStart, !runs && !engine_->cycle.Started());
    if (!runs) ScheduleChanged(engine_->cycle.Started());  // the window's own schedule again
  }
  if (runs) ShowServiceState(state);
}

void TForm_Main::ShowServiceState(const ServiceState& state) {
  const bool all = !serviceShownValid_;
  if (all || state.started != serviceShown_.started) ScheduleChanged(state.started);
  if (state.ended) ShowOutcome(state.outcome, state.successes, state.attempts);
  if (!state.timeOfWeek.empty()) SetCaption(ID_Panel_Time, state.timeOfWeek.c_str());
  std::string tip = kApplicationTitle;
  if (state.ended) {
    AttemptResult last;
    last.outcome = state.outcome;
    last.offsetSeconds = state.offsetSeconds;
    tip = TipText(&last, LocalTimeText(state.endedNs));
  }
  const TrayIconState icon = state.polling ? TrayIconState::InProgress
                             : state.ended ? IconStateAfter(state.outcome)
                                           : TrayIconState::SleepingOk;
  if (all || icon != trayState_ || tip != tip_) {
    tip_ = tip;
    RemoveTrayIcons();
    AddTrayIcon(icon);
  }
  serviceShown_ = state;
  serviceShownValid_ = true;
}

void TForm_Main::AskTheService(ServiceRequest request) {
  const bool control = request == ServiceRequest::Start || request == ServiceRequest::Stop;
  std::string reply;
  const PipeAnswer answer =
      AskService(control ? kControlPipeName : kStatePipeName,
                 EncodeRequest(request, request == ServiceRequest::Start ? Choices() : CycleChoices{}),
                 &reply);
  if (answer == PipeAnswer::AccessDenied) {
    MessageBoxA(hwnd_, kAdministratorNeeded, kApplicationTitle, MB_OK | MB_ICONINFORMATION);
  } else if (answer != PipeAnswer::Answered) {
    MessageBoxA(hwnd_, "The ClockAgent service did not answer.", kApplicationTitle,
                MB_OK | MB_ICONEXCLAMATION);
  } else if (reply.rfind(kRefusedReply, 0) == 0) {
    Refused(reply.c_str() + std::strlen(kRefusedReply));  // as Start itself refuses
  }
  FollowService();  // shows the change at once
  if (request == ServiceRequest::Start) WarnOfWindowsTime();
}

void TForm_Main::Refused(const char* message) {
  MessageBoxA(hwnd_, message, "Error", MB_OK | MB_ICONEXCLAMATION);
}

void TForm_Main::SaveSettings() {
  const UpdateCycle& cycle = engine_->cycle;
  SettingsToSave settings;
  settings.intervalMs = cycle.UpdateInterval();
  settings.timeType = cycle.ActiveTimeType();
  settings.autoStart = ItemIndex(ID_RadioGroup_AutoStart) == 0;
  settings.portNumber = cycle.ActivePort().number;
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    settings.line.*kLineLists[i].index = ItemIndex(kLineListControls[i]);
  }
  clockagent::SaveSettings(*store_, settings);
}

void TForm_Main::LoadSettings() {
  StoredSettings stored;
  if (!clockagent::LoadSettings(*store_, &stored)) {  // a first run: store the defaults
    SaveSettings();
    return;
  }
  if (stored.portNumber) SetItemIndex(ID_ComboBox_COM, *stored.portNumber - 1);
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    if (stored.lineIndex[i]) SetItemIndex(kLineListControls[i], *stored.lineIndex[i]);
  }
  if (stored.intervalSeconds) {
    char interval[kIntervalTextSize];
    FormatIntervalText(*stored.intervalSeconds, interval);
    SetIntervalFieldText(Item(ID_MaskEdit_Interval), interval);
  }
  if (stored.timeType) SetItemIndex(ID_RadioGroup_TimeType, *stored.timeType == TimeType::Utc ? 0 : 1);
  if (stored.autoStart && (*stored.autoStart ? 0 : 1) != ItemIndex(ID_RadioGroup_AutoStart)) {
    SetItemIndex(ID_RadioGroup_AutoStart, *stored.autoStart ? 0 : 1);
    RadioGroup_AutoStartClick();  // as a change of selection clicks the group
  }
}

void TForm_Main::RadioGroup_AutoStartClick() {
  SaveAutoStart(*store_, ItemIndex(ID_RadioGroup_AutoStart) == 0);
}

void TForm_Main::RemoveTrayIcons() {
  for (UINT id : kTrayIconIds) {
    NOTIFYICONDATAA record{};
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = hwnd_;
    record.uID = id;
    Shell_NotifyIconA(NIM_DELETE, &record);
  }
}

void TForm_Main::AddTrayIcon(TrayIconState state) {
  const auto index = static_cast<int>(state);
  NOTIFYICONDATAA record{};
  record.cbSize = NOTIFYICONDATAA_V1_SIZE;
  record.hWnd = hwnd_;
  record.uID = kTrayIconIds[index];
  record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  record.uCallbackMessage = kTrayCallbackMessage;
  record.hIcon = trayIcons_[index];
  lstrcpynA(record.szTip, tip_.c_str(), sizeof record.szTip);
  Shell_NotifyIconA(NIM_ADD, &record);
  trayState_ = state;
}

void TForm_Main::ShowHint(const char* hint) {
  if (hint_ == hint) return;
  hint_ = hint;
  SetWindowTextA(Item(ID_Panel_Hint), hint);
}

void TForm_Main::UpdateHint() {
  if (menuActive_) return;
  POINT p;
  GetCursorPos(&p);
  HWND top = WindowFromPoint(p);
  top = top != nullptr ? RootOf(top) : nullptr;
  if (top != hwnd_) {  // the pointer is over no control of the main window
    ShowHint("");
    return;
  }
  // Down to the deepest child under the pointer, disabled ones included.
  HWND at = hwnd_;
  for (;;) {
    POINT local = p;
    ScreenToClient(at, &local);
    HWND child = ChildWindowFromPointEx(at, local, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    if (child == nullptr || child == at) break;
    at = child;
  }
  // Its hint, or its nearest container's.
  for (; at != nullptr && at != hwnd_; at = GetParent(at)) {
    const ControlSpec* spec = RowOf(at);
    if (spec != nullptr && spec->hint != nullptr) {
      ShowHint(spec->hint);
      return;
    }
  }
  ShowHint("");
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
  if (engine_ != nullptr) engine_->cycle.Abandon();  // an attempt polling: no outcome for it
  RemoveTrayIcons();
  for (HICON& icon : trayIcons_) {
    if (icon != nullptr) DestroyIcon(icon);
    icon = nullptr;
  }
}

void TForm_Main::TrayIconMessage(LPARAM mouseEvent) {
  switch (mouseEvent) {
    case WM_LBUTTONDBLCLK:
      Restore();
      break;
    case WM_RBUTTONUP: {
      POINT p;
      GetCursorPos(&p);
      SetForegroundWindow(hwnd_);
      EnableMenuItem(trayMenu_, ID_SystemTray_Close,
                     MF_BYCOMMAND | (IsWindowVisible(hwnd_) ? MF_ENABLED : MF_GRAYED));
      TrackPopupMenu(trayMenu_, TPM_RIGHTBUTTON, p.x, p.y, 0, hwnd_, nullptr);
      PostMessageA(hwnd_, WM_NULL, 0, 0);
      break;
    }
    default:
      break;
  }
}

void TForm_Main::Command(int id, int code) {
  switch (id) {
    case ID_SpeedButton_Start:
    case ID_Control_Start:
      if (serviceMode_) {
        AskTheService(ServiceRequest::Start);
      } else {
        engine_->cycle.StartUpdates();
        WarnOfWindowsTime();
      }
      break;
    case ID_SpeedButton_Stop:
    case ID_Control_Stop:
      if (serviceMode_) {
        AskTheService(ServiceRequest::Stop);
      } else {
        engine_->cycle.StopUpdates();
      }
      break;
    case ID_SpeedButton_Refresh:
    case ID_Control_Refresh:
    case ID_SystemTray_Refresh:
      if (serviceMode_) {
        AskTheService(ServiceRequest::Refresh);
      } else {
        engine_->cycle.RefreshTime();
      }
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
      if (wParam == kServiceTimerId) FollowService();
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
