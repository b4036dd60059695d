// The real ClockAgent.exe under wine, started, driven and read as a user would through the
// window system: windows and controls found by class and identifier, texts read with
// WM_GETTEXT, commands posted as WM_COMMAND, the tray icon's callback message sent. Run by
// scripts/wine-test.sh, which maps the COM ports to simulated receivers:
//   COM3   answers with 2003-01-08T11:59:47Z: wine refuses to set a clock that far off
//   COM11  says nothing
//   COM12  broadcasts 0x8F-AB of the current time at every second edge
//   COM13  answers with a time of week that is not a number
//   COM14  says nothing, and hangs up at the third request
//   COM15  answers COM3's time at 38400 baud within a flood of noise
//   COM16  answers COM3's time after a storm of 1000 DLEs and a packet of 600 data bytes
//   COM17  broadcasts 0x8F-AB with a GPS-UTC offset of 2 s; COM18 answers with that offset
//   COM19  is not mapped
//   COM5   answers COM3's time at 38400 baud, odd parity, two stop bits
//   COM9   answers as COM3, but another program holds it
//   COM20  broadcasts 20-80 ms after a pulse that reaches DCD through the tests' fake modem lines
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <regex>
#include <tuple>

#include "record/update_record.h"
#include "tests/support/ui_harness.h"
#include "update/update_cycle.h"
#include "ui/info_windows.h"
#include "w32time/provider_registration_win32.h"

namespace clockagent::test {
namespace {

const std::regex kCom3Time(R"( Wed 11:59:4\d\.\d\d)");  // COM3's time, run on for a second or so

TEST_F(ClockAgentProgram, FirstRunShowsNoWindowAndStoresTheDefaults) {
  Launch();
  EXPECT_FALSE(IsWindowVisible(main_));
  EXPECT_EQ(TextOf(main_), std::string(kProductName) + " " + kVersionText + " TESTING ONLY");
  EXPECT_EQ(Stored(kIntervalValue), "21600");
  EXPECT_EQ(Stored(kTimeTypeValue), "UTC");
  EXPECT_EQ(Stored(kAutoStartValue), "OFF");
  EXPECT_EQ(Stored(kCommValue), "COM1");
  EXPECT_EQ(Stored(kBaudRateValue), "2");
  EXPECT_EQ(Stored(kDataBitsValue), "1");
  EXPECT_EQ(Stored(kParityValue), "0");
  EXPECT_EQ(Stored(kStopBitsValue), "0");
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "00 06:00");
  EXPECT_EQ(Selected(ID_ComboBox_COM), 0);
  EXPECT_EQ(Selected(ID_ComboBox_BaudRate), 2);
  EXPECT_TRUE(Checked(ID_TimeType_UTC));
  EXPECT_TRUE(Checked(ID_AutoStart_OFF));
  EXPECT_EQ(Text(ID_Panel_OnOff), "Off");
  EXPECT_EQ(Text(ID_Panel_TotalUpdates), "0/0");
  EXPECT_FALSE(Enabled(ID_SpeedButton_Stop));
}

TEST_F(ClockAgentProgram, StoredSettingsComeBackIntoTheControls) {
  Store(kCommValue, "COM7");
  Store(kBaudRateValue, "4");
  Store(kParityValue, "2");
  Store(kIntervalValue, "113400");
  Store(kTimeTypeValue, "GPS");
  Launch();
  EXPECT_EQ(Selected(ID_ComboBox_COM), 6);
  EXPECT_EQ(Selected(ID_ComboBox_BaudRate), 4);
  EXPECT_EQ(Selected(ID_ComboBox_Parity), 2);
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "01 07:30");
  EXPECT_TRUE(Checked(ID_TimeType_GPS));
}

TEST_F(ClockAgentProgram, StartStopAndRefreshAgainstAReceiver) {
  Launch();
  Command(ID_SystemTray_Restore);
  ASSERT_TRUE(WaitFor([this] { return IsWindowVisible(main_) != FALSE; }, 3000));
  Screenshot(main_, "main-stopped");

  Select(ID_ComboBox_COM, 11);  // COM 12
  // The discipline, which wine's clock does not take: it stops and says so, and the update steps.
  SendMessageA(Control(ID_CheckBox_Discipline), BM_SETCHECK, BST_CHECKED, 0);
  Command(ID_Control_Start);
  ASSERT_TRUE(WaitText(ID_Panel_Status, "Success", 5000)) << Text(ID_Panel_Status);
  SetCursorPos(0, 0);  // off the window: its notices show
  EXPECT_TRUE(WaitText(ID_Panel_Hint, kRateNotKeptText, 2000)) << Text(ID_Panel_Hint);
  EXPECT_EQ(Stored(kDisciplineValue), "ON");
  EXPECT_EQ(Text(ID_Panel_TotalUpdates), "1/1");
  EXPECT_EQ(Text(ID_Panel_OnOff), "On");
  EXPECT_EQ(Text(ID_Panel_Time).substr(13), ".00");  // whole seconds from 0x8F-AB
  for (int id : {ID_Panel_Setup, ID_ComboBox_COM, ID_ComboBox_BaudRate, ID_MaskEdit_Interval,
                 ID_RadioGroup_TimeType, ID_AutoStart_ON, ID_CheckBox_Discipline,
                 ID_SpeedButton_Start}) {
    EXPECT_FALSE(Enabled(id)) << id;
  }
  EXPECT_TRUE(Enabled(ID_SpeedButton_Stop));
  EXPECT_EQ(Stored(kCommValue), "COM12");
  Screenshot(main_, "main-running");

  Command(ID_SpeedButton_Stop);
  ASSERT_TRUE(WaitText(ID_Panel_OnOff, "Off"));
  EXPECT_TRUE(Enabled(ID_ComboBox_COM));

  Command(ID_SystemTray_Refresh);  // while stopped: one more attempt on the same counters
  ASSERT_TRUE(WaitText(ID_Panel_TotalUpdates, "2/2", 5000)) << Text(ID_Panel_TotalUpdates);
  EXPECT_EQ(Text(ID_Panel_OnOff), "Off");
  // Both in the record, in ProgramData (written just after the counters are shown).
  std::string record;
  const auto successes = [&record] {
    record = FileText(RecordPath());
    std::size_t lines = 0;
    for (std::size_t at = record.find(",COM12,Success,0x8F-AB,"); at != std::string::npos;
         at = record.find(",COM12,Success,0x8F-AB,", at + 1)) {
      ++lines;
    }
    return lines;
  };
  EXPECT_TRUE(WaitFor([&] { return successes() == 2; }, 2000)) << record;
  EXPECT_EQ(record.rfind(kRecordHeader + std::string("\r\n"), 0), 0u) << record;
  // The icon's tip tells the last update and the offset it corrected.
  std::vector<std::string> tips;
  EXPECT_TRUE(WaitFor(
      [&tips] {
        tips = TrayTips();
        const std::regex tip(
            R"(ClockAgent\nUpdated \d\d:\d\d:\d\d: clock was \d+\.\d{6} s (behind|ahead))");
        return tips.size() == 1 && std::regex_match(tips[0], tip);
      },
      2000))
      << (tips.empty() ? "no tip" : tips[0]);
}

TEST_F(ClockAgentProgram, ThePulseChosenInTheSettingsTimesTheUpdate) {
  Store(kCommValue, "COM20");
  Store(kPulseValue, "DCD");
  Launch();
  EXPECT_EQ(Selected(ID_ComboBox_Pulse), 1);
  Command(ID_Control_Refresh);
  // Within a few milliseconds of the true time, where the packet alone is 20-80 ms late.
  const std::regex timed(R"(,COM20,Success,0x8F-AB,[-+]0\.00[0-4]\d{3},[-\dT:.]+Z,,pulse,\r\n)");
  std::string record;
  EXPECT_TRUE(WaitFor([&] { return std::regex_search(record = FileText(RecordPath()), timed); },
                      6000))
      << record;
}

TEST_F(ClockAgentProgram, FailuresShowTheirStatus) {
  Launch();
  Select(ID_ComboBox_COM, 18);  // COM 19: no such port
  Command(ID_Control_Refresh);
  ASSERT_TRUE(WaitText(ID_Panel_Status, "Error - COM Failure"));
  EXPECT_EQ(Text(ID_Panel_TotalUpdates), "0/1");
  EXPECT_EQ(Text(ID_Panel_Hint), "port COM19: File not found.");

  Select(ID_ComboBox_COM, 2);  // COM 3: a time far from the clock, which wine will not set
  Command(ID_Control_Refresh);
  ASSERT_TRUE(WaitText(ID_Panel_Status, "Error - System Update", 5000)) << Text(ID_Panel_Status);
  // UTC: GPS 12:00:00 less the 13 s offset, and the time to the second packet that confirms it.
  EXPECT_TRUE(std::regex_match(Text(ID_Panel_Time), kCom3Time)) << Text(ID_Panel_Time);

  Select(ID_ComboBox_COM, 10);  // COM 11: a silent receiver
  const auto started = std::chrono::steady_clock::now();
  Command(ID_Control_Refresh);
  ASSERT_TRUE(WaitText(ID_Panel_Status, "Error - DARO Failure", 12000)) << Text(ID_Panel_Status);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_GT(seconds, 5.5) << "30 polls of 200 ms";
  EXPECT_EQ(Text(ID_Panel_TotalUpdates), "0/3");
}

TEST_F(ClockAgentProgram, FindReceiverSelectsAReceiverHeardAndStopsOnASecondClick) {
  Launch();
  ShowMain();
  Click(ID_SpeedButton_Find);  // the pointer stays on the button: the hint bar shows the search
  const std::regex foundHint(R"(Found a receiver on COM (\d+): 9600 baud, 8-N-1)");
  std::string hint;
  std::smatch found;
  ASSERT_TRUE(WaitFor([&] { return std::regex_match(hint = Text(ID_Panel_Hint), found, foundHint); }, 15000)) << hint;
  // One of the receivers that the script puts at 9600 8-N-1, the first heard, in the lists.
  const int port = std::stoi(found[1]);
  EXPECT_TRUE(port == 3 || port == 7 || (port >= 12 && port <= 18 && port != 14 && port != 15)) << port;
  EXPECT_EQ(std::vector<int>({Selected(ID_ComboBox_COM), Selected(ID_ComboBox_BaudRate),
                              Selected(ID_ComboBox_DataBits), Selected(ID_ComboBox_Parity),
                              Selected(ID_ComboBox_StopBits)}),
            std::vector<int>({port - 1, 2, 1, 0, 0}));
  EXPECT_EQ(Stored(kCommValue), "COM1") << "kept only by Start";

  Command(ID_Control_Find);
  Command(ID_SpeedButton_Find);
  EXPECT_TRUE(WaitText(ID_Panel_Hint, "Find Receiver stopped.", 3000)) << Text(ID_Panel_Hint);

  Select(ID_ComboBox_COM, 11);  // COM 12
  Command(ID_Control_Start);
  ASSERT_TRUE(WaitText(ID_Panel_OnOff, "On"));
  EXPECT_FALSE(Enabled(ID_SpeedButton_Find));
}

TEST_F(ClockAgentProgram, FaultsOnTheLineEndInTheirOutcome) {
  Launch();
  Select(ID_ComboBox_COM, 12);  // COM 13
  Command(ID_Control_Refresh);
  ASSERT_TRUE(WaitText(ID_Panel_Status, "Error - Bad Time", 5000)) << Text(ID_Panel_Status);
  EXPECT_EQ(Text(ID_Panel_Time), "<Bad time>");
  EXPECT_TRUE(WaitText(ID_Panel_Hint, "receiver: its time is not a date", 2000));

  Select(ID_ComboBox_COM, 14);  // COM 15
  Select(ID_ComboBox_BaudRate, 4);
  Command(ID_Control_Refresh);
  ASSERT_TRUE(WaitText(ID_Panel_Status, "Error - System Update", 5000)) << Text(ID_Panel_Status);
  EXPECT_TRUE(std::regex_match(Text(ID_Panel_Time), kCom3Time)) << Text(ID_Panel_Time);
  EXPECT_EQ(Text(ID_Panel_TotalUpdates), "0/2");

  Select(ID_ComboBox_COM, 15);  // COM 16
  Select(ID_ComboBox_BaudRate, 2);
  SetWindowTextA(Control(ID_Panel_Time), "");
  Command(ID_Control_Refresh);
  ASSERT_TRUE(WaitText(ID_Panel_TotalUpdates, "0/3", 7000)) << Text(ID_Panel_TotalUpdates);
  EXPECT_EQ(Text(ID_Panel_Status), "Error - System Update");
  EXPECT_TRUE(std::regex_match(Text(ID_Panel_Time), kCom3Time)) << Text(ID_Panel_Time);

  Select(ID_ComboBox_COM, 13);  // COM 14: the line goes dead in the attempt, which runs out
  Command(ID_Control_Refresh);
  ASSERT_TRUE(WaitText(ID_Panel_TotalUpdates, "0/4", 8000)) << Text(ID_Panel_TotalUpdates);
  EXPECT_EQ(Text(ID_Panel_Status), "Error - DARO Failure");
  Command(ID_Control_Refresh);  // the receiver is gone for good
  ASSERT_TRUE(WaitText(ID_Panel_TotalUpdates, "0/5", 3000)) << Text(ID_Panel_TotalUpdates);
  EXPECT_EQ(Text(ID_Panel_Status), "Error - COM Failure");
}

// The handles a process holds. Wine 8 answers GetProcessHandleCount with 0 for every process; its
// list of all the system's handles, by owner, is real.
DWORD HandleCount(HANDLE process) {
  DWORD count = 0;
  if (GetProcessHandleCount(process, &count) && count > 0) return count;
  struct Entry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
  };
  struct List {
    ULONG count;
    Entry entries[1];
  };
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  constexpr ULONG kSystemHandleInformation = 16;
  std::vector<unsigned char> buffer(1 << 20);
  ULONG size = 0;
  const auto bufferSize = [&buffer] { return static_cast<ULONG>(buffer.size()); };
  while (query(kSystemHandleInformation, buffer.data(), bufferSize(), &size) != 0) {
    if (buffer.size() >= (64u << 20)) return 0;
    buffer.resize(buffer.size() * 2);
  }
  const auto* list = reinterpret_cast<const List*>(buffer.data());
  const DWORD pid = GetProcessId(process);
  for (ULONG i = 0; i < list->count; ++i) {
    if (list->entries[i].ownerPid == pid) ++count;
  }
  return count;
}

// Hundreds of attempts leave the program holding as many handles as before.
TEST_F(ClockAgentProgram, ManyAttemptsLeaveTheHandleCountAsItWas) {
  // The count sees a handle come and go.
  const DWORD mine = HandleCount(GetCurrentProcess());
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(HandleCount(GetCurrentProcess()), mine + 1);
  CloseHandle(event);
  EXPECT_EQ(HandleCount(GetCurrentProcess()), mine);

  Launch();
  // Attempt n: a System Update failure (a whole exchange on COM3), or at every third a COM
  // Failure (no port). The exchanges' times from Refresh Time to the outcome are noted.
  std::vector<double> exchangeMs;
  const auto attempt = [&](int n) {
    Select(ID_ComboBox_COM, n % 3 == 0 ? 18 : 2);
    const std::string counted = "0/" + std::to_string(n);
    const auto sent = std::chrono::steady_clock::now();
    Command(ID_Control_Refresh);
    // Stamped when the outcome has been read: a read can wait while the program is busy.
    std::chrono::duration<double, std::milli> waited{};
    for (;;) {
      const bool shown = Text(ID_Panel_TotalUpdates) == counted;
      waited = std::chrono::steady_clock::now() - sent;
      if (shown) break;
      if (waited.count() > 3000) return false;
      Sleep(1);
    }
    if (n % 3 != 0) exchangeMs.push_back(waited.count());
    return true;
  };
  const auto shown = [this] { return Text(ID_Panel_Status) + " " + Text(ID_Panel_TotalUpdates); };
  for (int n = 1; n <= 20; ++n) ASSERT_TRUE(attempt(n)) << n << ": " << shown();
  const DWORD before = HandleCount(process_.hProcess);
  ASSERT_GT(before, 0u);
  const auto began = std::chrono::steady_clock::now();
  for (int n = 21; n <= 320; ++n) ASSERT_TRUE(attempt(n)) << n << ": " << shown();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  const DWORD after = HandleCount(process_.hProcess);
  EXPECT_EQ(after, before);
  std::printf("300 attempts in %.1f s: %lu handles before, %lu after\n", took.count(),
              static_cast<unsigned long>(before), static_cast<unsigned long>(after));
  std::sort(exchangeMs.begin(), exchangeMs.end());
  std::printf("Refresh Time to outcome on COM3 at 9600 baud, %zu attempts: median %.0f ms, "
              "maximum %.0f ms\n",
              exchangeMs.size(), exchangeMs[exchangeMs.size() / 2], exchangeMs.back());
}

TEST_F(ClockAgentProgram, TheIconShowsTheStateOfTheCycle) {
  Launch();
  ASSERT_TRUE(WaitFor([] { return TrayPixels(kRim) > 0; }, 3000)) << "the white icon is there";
  EXPECT_EQ(TrayPixels(kDialBlue), 0);
  EXPECT_EQ(TrayPixels(kDialYellow), 0);

  Select(ID_ComboBox_COM, 10);  // COM 11: silent, so the attempt polls for six seconds
  Command(ID_Control_Refresh);
  EXPECT_TRUE(WaitFor([] { return TrayPixels(kDialBlue) > 0; }, 3000)) << "blue while polling";
  ASSERT_TRUE(WaitText(ID_Panel_Status, "Error - DARO Failure", 12000));
  EXPECT_TRUE(WaitFor([] { return TrayPixels(kDialYellow) > 0 && TrayPixels(kDialBlue) == 0; },
                      3000))
      << "yellow after a failure";

  Command(ID_Control_Exit);
  ASSERT_EQ(WaitForSingleObject(process_.hProcess, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  main_ = nullptr;
  EXPECT_TRUE(WaitFor([] { return TrayPixels(kRim) == 0; }, 3000)) << "no icon left after Exit";
}

TEST_F(ClockAgentProgram, AZeroIntervalIsRefusedAndNothingSaved) {
  Launch();
  SendMessageA(Control(ID_MaskEdit_Interval), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>("00 00:00"));
  Command(ID_SpeedButton_Start);
  EXPECT_EQ(MessageBoxText(), "Error: Interval must be greater than zero.");
  EXPECT_TRUE(WaitText(ID_Panel_OnOff, "Off"));
  EXPECT_TRUE(WaitText(ID_Panel_TotalUpdates, "0/0")) << Text(ID_Panel_TotalUpdates);
  EXPECT_EQ(Stored(kIntervalValue), "21600");
}

// Windows Time's provider keeps the clock: Start says so, and nothing starts.
TEST_F(ClockAgentProgram, StartIsRefusedWhileWindowsTimesProviderIsEnabled) {
  ASSERT_EQ(RegisterProvider(BuildFile(kProviderDllName)), ProviderChange::Done);
  Launch();
  Command(ID_SpeedButton_Start);
  EXPECT_EQ(MessageBoxText(), std::string("Error: ") + kProviderRefusal);
  EXPECT_TRUE(WaitText(ID_Panel_OnOff, "Off"));
  EXPECT_EQ(UnregisterProvider(), ProviderChange::Done);
}

// A message box's modal loop does not read the port: nothing modal opens while an attempt polls.
TEST_F(ClockAgentProgram, NoMessageBoxOpensWhileAnAttemptPolls) {
  Store(kCommValue, "COM11");  // silent: its attempt polls for six seconds
  Launch();
  Command(ID_SpeedButton_Start);
  // The text below is sent, and a sent message overtakes posted ones: wait for each command.
  ASSERT_TRUE(WaitText(ID_Panel_OnOff, "On"));
  Command(ID_SpeedButton_Stop);  // the attempt polls on
  ASSERT_TRUE(WaitText(ID_Panel_OnOff, "Off"));
  SendMessageA(Control(ID_MaskEdit_Interval), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>("00 00:00"));
  Command(ID_SpeedButton_Start);
  EXPECT_EQ(MessageBoxText(1000), "no message box");
  EXPECT_TRUE(WaitText(ID_Panel_Hint, kZeroIntervalMessage, 2000)) << Text(ID_Panel_Hint);
}

TEST_F(ClockAgentProgram, AutoStartRunsTheFirstAttemptWithoutAWindow) {
  Store(kCommValue, "COM12");
  Store(kAutoStartValue, "ON");
  Store(kIntervalValue, "3600");
  Launch();
  ASSERT_TRUE(WaitText(ID_Panel_Status, "Success", 5000)) << Text(ID_Panel_Status);
  EXPECT_EQ(Text(ID_Panel_OnOff), "On");
  EXPECT_FALSE(IsWindowVisible(main_));
}

TEST_F(ClockAgentProgram, RestoreCloseAndExit) {
  Launch();
  Tray(WM_LBUTTONDBLCLK);
  ASSERT_TRUE(WaitFor([this] { return IsWindowVisible(main_) != FALSE; }, 3000));
  Tray(WM_LBUTTONDOWN);  // a single click does nothing
  PostMessageA(main_, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([this] { return IsWindowVisible(main_) == FALSE; }, 3000));
  EXPECT_EQ(WaitForSingleObject(process_.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT))
      << "closing hides; the program runs on";

  // Exit while an attempt polls (a silent receiver): the program ends at once, reporting nothing.
  Select(ID_ComboBox_COM, 10);
  Command(ID_Control_Refresh);
  Sleep(1000);
  Command(ID_SystemTray_Exit);
  ASSERT_EQ(WaitForSingleObject(process_.hProcess, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 1;
  GetExitCodeProcess(process_.hProcess, &code);
  EXPECT_EQ(code, 0u);
  main_ = nullptr;
}

TEST_F(ClockAgentProgram, TheHintBarFollowsThePointer) {
  Launch();
  ShowMain();
  const struct {
    int id;
    int dx;
    const char* hint;
  } places[] = {
      {ID_Label6, 0, "ClockAgent Setup"},
      {ID_ComboBox_StopBits, 0, "ClockAgent Setup"},
      {ID_ComboBox_COM, 0, "Serial port selection"},
      {ID_ComboBox_Pulse, 0, "Modem line the receiver's pulse per second is wired to"},
      {ID_Label5, 0, "Interval between clock update attempts"},
      {ID_TimeType_GPS, 0, "Time in GPS or UTC"},
      {ID_AutoStart_ON, 0, "Automatically start update timer when ClockAgent starts."},
      {ID_Label_GMT, 0, "Info about last successful clock update"},
      {ID_Panel_Time, 0, "Time of last successful clock update"},
      {ID_Panel_Status, 0, "Info about last clock update attempt"},
      {ID_Panel_OnOff, 0, "ClockAgent status"},
      {ID_Panel_TotalUpdates, 0, "Successful Updates / Update Attempts"},
      {ID_Panel_Hint, 0, "Hint Box"},
      {ID_SpeedButton_Stop, 0, "Stop"},  // disabled, and still it has its hint
      {ID_SpeedButton_Refresh, 80, ""},  // the tool bar beside the buttons
  };
  for (const auto& place : places) {
    PointAt(place.id, place.dx);
    EXPECT_TRUE(WaitText(ID_Panel_Hint, place.hint, 2000))
        << "over " << place.id << ": " << Text(ID_Panel_Hint);
  }

  // A highlighted menu item empties the bar.
  PointAt(ID_ComboBox_COM);
  ASSERT_TRUE(WaitText(ID_Panel_Hint, "Serial port selection"));
  keybd_event(VK_MENU, 0, 0, 0);
  Key('C');
  keybd_event(VK_MENU, 0, KEYEVENTF_KEYUP, 0);
  EXPECT_TRUE(WaitText(ID_Panel_Hint, "", 2000)) << Text(ID_Panel_Hint);
  Key(VK_ESCAPE);
  Key(VK_ESCAPE);
}

TEST_F(ClockAgentProgram, MinimisingMinimisesTheApplication) {
  Launch();
  ShowMain();
  HWND application = GetWindow(main_, GW_OWNER);
  ASSERT_NE(application, nullptr);
  EXPECT_EQ(TextOf(application), "ClockAgent");
  EXPECT_FALSE(IsWindowVisible(application)) << "no taskbar entry while the window shows";
  PostMessageA(main_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitFor([&] { return IsIconic(application) && !IsWindowVisible(main_); }, 3000));
  EXPECT_TRUE(IsWindowVisible(application)) << "the taskbar entry";
  PostMessageA(application, WM_SYSCOMMAND, SC_RESTORE, 0);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(main_) != FALSE; }, 3000));
  EXPECT_TRUE(IsWindowVisible(application)) << "the entry stays until the next close or Restore";
  Command(ID_SystemTray_Restore);
  EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(application); }, 3000));
  EXPECT_TRUE(IsWindowVisible(main_));
}

TEST_F(ClockAgentProgram, OnlyTheSpeedButtonsShowTips) {
  Launch();
  ShowMain();
  const auto visibleTip = [this] {
    HWND tip = Shown(TOOLTIPS_CLASSA);
    return tip != nullptr ? TextOf(tip) : std::string();
  };
  for (const auto& [id, tip] : std::vector<std::pair<int, std::string>>{
           {ID_SpeedButton_Start, "Start"}, {ID_SpeedButton_Stop, "Stop"},
           {ID_SpeedButton_Refresh, "Refresh Time"}, {ID_SpeedButton_Find, "Find Receiver"}}) {
    PointAt(ID_Panel_Setup);
    Sleep(300);
    PointAt(id, 2, 2);
    PointAt(id);
    EXPECT_TRUE(WaitFor([&] { return visibleTip() == tip; }, 2500)) << tip << ": " << visibleTip();
  }
  PointAt(ID_ComboBox_COM);
  Sleep(1200);
  EXPECT_EQ(visibleTip(), "");
}

TEST_F(ClockAgentProgram, TheIntervalFieldTakesDigitsOnly) {
  Launch();
  ShowMain();
  Click(ID_MaskEdit_Interval);
  SendMessageA(Control(ID_MaskEdit_Interval), EM_SETSEL, 0, 0);
  for (WORD key : {WORD('1'), WORD('2'), WORD('A'), WORD('3'), WORD('4'), WORD('5')}) Key(key);
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "12 34:50");  // the letter is not typed; space and colon stay
  Key(VK_ESCAPE);
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "00 06:00") << "Esc puts back the text it had";

  // A required digit left blank: leaving the field is refused.
  SendMessageA(Control(ID_MaskEdit_Interval), EM_SETSEL, 5, 5);
  Key(VK_BACK);
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "00 0_:00");
  Key(VK_TAB);
  EXPECT_EQ(MessageBoxText(), "ClockAgent: Invalid input value.  Use escape key to abandon changes.");
  Sleep(300);
  EXPECT_EQ(MessageBoxText(500), "no message box") << "the message shows once";
  // The focus is back in the field, on the blank digit.
  EXPECT_TRUE(WaitFor([this] { return FocusId() == ID_MaskEdit_Interval; }, 3000)) << FocusId();
  DWORD caret = 0;
  SendMessageA(Control(ID_MaskEdit_Interval), EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
  EXPECT_EQ(caret, 4u);
  Key(VK_ESCAPE);
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "00 06:00");
}

TEST_F(ClockAgentProgram, TheIconMenuOffersCloseOnlyWhileTheWindowShows) {
  Launch();
  const auto menuOpen = [] { return FindWindowA("#32768", nullptr) != nullptr && IsWindowVisible(FindWindowA("#32768", nullptr)); };
  const auto openMenu = [&] {
    Tray(WM_RBUTTONUP);
    return WaitFor(menuOpen, 3000);
  };
  // Hidden, minimised to its taskbar entry: "&Close" is disabled, so its letter leaves the entry,
  // which closing would hide.
  ShowMain();
  HWND application = GetWindow(main_, GW_OWNER);
  PostMessageA(main_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(application) && !IsWindowVisible(main_); }, 3000));
  ASSERT_TRUE(openMenu());
  Screenshot(FindWindowA("#32768", nullptr), "tray-menu-window-hidden");
  // The fourth of the five rows and a separator: "&Close", greyed.
  EXPECT_EQ(DarkPixels(FindWindowA("#32768", nullptr), 0.56, 0.69), 0);
  EXPECT_GT(DarkPixels(FindWindowA("#32768", nullptr), 0.02, 0.18), 20) << "\"&Restore\" is black";
  Key('C');
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(application));
  if (menuOpen()) Key(VK_ESCAPE);
  ASSERT_TRUE(WaitFor([&] { return !menuOpen(); }, 3000));
  // "&Restore" shows the window.
  ASSERT_TRUE(openMenu());
  Key('R');
  ASSERT_TRUE(WaitFor([this] { return IsWindowVisible(main_) != FALSE; }, 3000));
  // Shown: "&Close" hides it again.
  ASSERT_TRUE(WaitFor([&] { return !menuOpen(); }, 3000));
  ASSERT_TRUE(openMenu());
  Screenshot(FindWindowA("#32768", nullptr), "tray-menu-window-shown");
  EXPECT_GT(DarkPixels(FindWindowA("#32768", nullptr), 0.56, 0.69), 20) << "\"&Close\" is black";
  Key('C');
  EXPECT_TRUE(WaitFor([this] { return IsWindowVisible(main_) == FALSE; }, 3000));
}

TEST_F(ClockAgentProgram, TheInformationWindowsOpenOnceEach) {
  Launch();
  const struct {
    int command;
    const char* caption;
  } windows[] = {{ID_HelpPkts, "Supported DARO Packets"},
                 {ID_HelpIcons, "System Tray Icons"},
                 {ID_HelpErrors, "Possible Errors"},
                 {ID_HelpAbout, "About ClockAgent"},
                 {ID_SystemTray_About, "About ClockAgent"}};
  for (const auto& w : windows) {
    HWND window = FindWindowA(kInfoWindowClass, w.caption);
    ASSERT_NE(window, nullptr) << w.caption << " exists from start-up on";
    Command(w.command);
    EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 3000)) << w.caption;
    Command(w.command);  // again: the same window, brought forward
    Sleep(300);
    int copies = 0;
    for (HWND found = nullptr; (found = FindWindowExA(nullptr, found, kInfoWindowClass, w.caption));) ++copies;
    EXPECT_EQ(copies, 1) << w.caption;
  }
  EXPECT_FALSE(IsWindowVisible(main_)) << "the information windows open without the main window";
  for (const auto& [command, caption, picture] :
       {std::tuple{ID_HelpAbout, "About ClockAgent", "about"},
        std::tuple{ID_HelpPkts, "Supported DARO Packets", "packets"},
        std::tuple{ID_HelpIcons, "System Tray Icons", "icons"},
        std::tuple{ID_HelpErrors, "Possible Errors", "errors"}}) {
    Command(command);  // in front for its picture
    Sleep(300);
    Screenshot(FindWindowA(kInfoWindowClass, caption), picture);
  }
}

TEST_F(ClockAgentProgram, TheAboutWindowShowsTheVersionAndOkHidesIt) {
  Launch();
  HWND about = FindWindowA(kInfoWindowClass, "About ClockAgent");
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(TextOf(ChildById(about, ID_Label_Version)), std::string("Version ") + kVersionText);
  Command(ID_SystemTray_About);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(about) != FALSE; }, 3000));
  PostMessageA(about, WM_COMMAND, ID_Button_OK, 0);  // Button_OKClick
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(about) == FALSE; }, 3000));

  Command(ID_HelpAbout);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(about) != FALSE; }, 3000));
  Sleep(300);
  Key(VK_ESCAPE);  // does nothing
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(about));
  Key(VK_RETURN);  // presses OK
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(about) == FALSE; }, 3000));

  // Away to the main window and back: the focus is on OK again, so Space presses it.
  Command(ID_HelpAbout);
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == about; }, 3000));
  ShowMain();
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == main_; }, 3000));
  Command(ID_HelpAbout);
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == about; }, 3000));
  EXPECT_EQ(FocusId(), ID_Button_OK);
  Key(VK_SPACE);
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(about) == FALSE; }, 3000));
}

TEST_F(ClockAgentProgram, TheErrorsWindowExplainsEachFailure) {
  Launch();
  HWND errors = FindWindowA(kInfoWindowClass, "Possible Errors");
  ASSERT_NE(errors, nullptr);
  const std::pair<int, const char*> texts[] = {
      {ID_Errors_Label1, "COM Failure:"},
      {ID_Errors_Label4, "DARO Failure:"},
      {ID_Errors_Label11, "System Update Failure:"},
      {ID_Errors_Label15, "Bad Time:"},
      {ID_Errors_Label2, "Unable to open serial port."},
      {ID_Errors_Label3, "Make sure the port isn't already in use."},
      {ID_Errors_Label18, "Make sure the port exists."},
      {ID_Errors_Label5, "The receiver did not return any of the supported DARO"},
      {ID_Errors_Label6, "timing packets within five seconds. "},
      {ID_Errors_Label7, "Make sure the serial port settings are correct."},
      {ID_Errors_Label9, "Make sure the receiver is capable of outputting one of"},
      {ID_Errors_Label10, "the supported DARO timing packets."},
      {ID_Errors_Label19, "Make sure the receiver is attached to the correct serial"},
      {ID_Errors_Label20, "port."},
      {ID_Errors_Label21, "Make sure the receiver is turned on."},
      {ID_Errors_Label12, "The PC returned a failure on the attempt to update  the"},
      {ID_Errors_Label13, "system clock."},
      {ID_Errors_Label16, "The receiver returned a time <= 0."},
      {ID_Errors_Label17, "Wait until your receiver obtains GPS time."},
  };
  for (const auto& [id, text] : texts) EXPECT_EQ(TextOf(ChildById(errors, id)), text) << id;
  // The headings end where the grey column's text ends, and line up with their explanations.
  RECT heading, explanation;
  GetWindowRect(ChildById(errors, ID_Errors_Label11), &heading);
  GetWindowRect(ChildById(errors, ID_Errors_Label12), &explanation);
  EXPECT_EQ(heading.top + 1, explanation.top);
  RECT com;
  GetWindowRect(ChildById(errors, ID_Errors_Label1), &com);
  EXPECT_NEAR(com.right, heading.right, 1);

  HWND packets = FindWindowA(kInfoWindowClass, "Supported DARO Packets");
  EXPECT_EQ(TextOf(ChildById(packets, ID_Packets_Label1)), "Pkt 0x41:");
  EXPECT_EQ(TextOf(ChildById(packets, ID_Packets_Label4)), "Pkt 8F-AB:");
  HWND icons = FindWindowA(kInfoWindowClass, "System Tray Icons");
  EXPECT_EQ(TextOf(ChildById(icons, ID_Icons_Label1)), "Sleeping: last update was successful.");
  EXPECT_EQ(TextOf(ChildById(icons, ID_Icons_Label2)), "Time update in progress.");
  EXPECT_EQ(TextOf(ChildById(icons, ID_Icons_Label3)), "Sleeping: last update was unsuccessful.");
}

// A string of a program's version information, or "" when it has none.
std::string VersionString(const std::string& program, const char* name) {
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeA(program.c_str(), &unused);
  if (size == 0) return "";
  std::string data(size, '\0');
  if (!GetFileVersionInfoA(program.c_str(), 0, size, &data[0])) return "";
  char* value = nullptr;
  UINT length = 0;
  const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) return "";
  return value;
}

TEST(Programs, BothCarryTheirVersion) {
  const std::string gui = ProgramPath();
  const std::string console = gui.substr(0, gui.find_last_of('\\')) + "\\clockagent.com";
  EXPECT_EQ(VersionString(gui, "FileVersion"), kVersionText);
  EXPECT_EQ(VersionString(gui, "ProductName"), "ClockAgent");
  EXPECT_EQ(VersionString(console, "FileVersion"), kVersionText);
  EXPECT_EQ(VersionString(console, "OriginalFilename"), "clockagent.com");
  const std::string provider = BuildFile(kProviderDllName);
  EXPECT_EQ(VersionString(provider, "FileVersion"), kVersionText);
  EXPECT_EQ(VersionString(provider, "OriginalFilename"), kProviderDllName);
}

TEST_F(ClockAgentProgram, ASecondStartBringsTheFirstForward) {
  Launch();
  PROCESS_INFORMATION second{};
  ASSERT_TRUE(StartProgram(&second));
  EXPECT_EQ(WaitForSingleObject(second.hProcess, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(second.hProcess);
  CloseHandle(second.hThread);
  EXPECT_TRUE(WaitFor([this] { return IsWindowVisible(main_) != FALSE; }, 3000));
}

// Every label of every window has the room its text needs in its own font, never less than its
// layout, stands where the layout aligns it, and shows its whole text there: the last glyph's ink
// ends where the text's measured extent ends, neither cut off nor drawn short of it.
TEST_F(ClockAgentProgram, LabelsShowTheirWholeTextAlignedAsLaidOut) {
  Launch();
  const struct {
    const WindowLayout* layout;
    int command;
  } windows[] = {{&kMainLayout, ID_SystemTray_Restore}, {&kAboutLayout, ID_HelpAbout},
                 {&kPacketsLayout, ID_HelpPkts},         {&kIconsLayout, ID_HelpIcons},
                 {&kErrorsLayout, ID_HelpErrors}};
  std::vector<int> headingEnds;
  for (const auto& w : windows) {
    HWND window = w.layout == &kMainLayout ? main_ : FindWindowA(kInfoWindowClass, w.layout->caption);
    Command(w.command);
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 3000)) << w.layout->caption;
    Sleep(500);
    int labels = 0;
    for (int i = 0; i < w.layout->count; ++i) {
      const ControlRow& row = w.layout->rows[i];
      if (row.kind != Kind::Label) continue;
      ++labels;
      HWND label = ChildById(window, row.id);
      const std::string text = TextOf(label);
      const RECT r = ScreenRect(label), parent = ScreenRect(GetParent(label));
      const int extent = TextExtent(row.look, w.layout->fontHeight, text).cx;
      EXPECT_GE(r.right - r.left, row.width) << text;
      EXPECT_GE(r.right - r.left, extent) << text;
      EXPECT_GE(r.bottom - r.top, row.height) << text;
      int textLeft = r.left;
      if (row.look & kRightAligned) {
        EXPECT_EQ(r.right - parent.left, row.left + row.width) << text;
        textLeft = r.right - extent;
      } else if (row.look & kCentred) {
        EXPECT_NEAR(r.left + r.right, parent.left + parent.right, 1) << text;
        textLeft = (r.left + r.right - extent) / 2;
      } else {
        EXPECT_EQ(r.left - parent.left, row.left) << text;
      }
      std::string inked = text;
      while (!inked.empty() && inked.back() == ' ') inked.pop_back();
      const int inkedExtent = TextExtent(row.look, w.layout->fontHeight, inked).cx;
      const Ink ink = InkIn(r);
      EXPECT_GE(ink.left, textLeft) << text;
      EXPECT_LE(ink.left, textLeft + 2) << text;
      EXPECT_LE(ink.right, textLeft + inkedExtent - 1) << text << ": drawn past its extent";
      EXPECT_GE(ink.right, textLeft + inkedExtent - 4) << text << ": drawn short of its extent";
      if (row.look & kRightAligned) headingEnds.push_back(ink.right);
    }
    EXPECT_EQ(ChildrenOfClass(window, kLabelClass), labels) << w.layout->caption << ": no label more";
  }
  ASSERT_EQ(headingEnds.size(), 4u);
  for (int end : headingEnds) EXPECT_EQ(end, headingEnds[0]) << "the headings end in line";
}

// Each status-bar field keeps a border of one pixel around its bevel, so neighbouring bevels do
// not touch; a radio group's frame stops two pixels before and after its caption.
TEST_F(ClockAgentProgram, StatusFieldsAndGroupCaptionsKeepTheirGaps) {
  Launch();
  ShowMain();
  const COLORREF face = GetSysColor(COLOR_BTNFACE), shadow = GetSysColor(COLOR_BTNSHADOW);
  for (int id : {ID_Panel_Hint, ID_Panel_OnOff, ID_Panel_TotalUpdates}) {
    const RECT r = ScreenRect(Control(id));
    for (int x = r.left; x < r.right; ++x) {
      EXPECT_EQ(ScreenPixel(x, r.top), face) << id << " top border at " << x - r.left;
      EXPECT_EQ(ScreenPixel(x, r.bottom - 1), face) << id << " bottom border at " << x - r.left;
    }
    for (int y = r.top; y < r.bottom; ++y) {
      EXPECT_EQ(ScreenPixel(r.left, y), face) << id << " left border at " << y - r.top;
      EXPECT_EQ(ScreenPixel(r.right - 1, y), face) << id << " right border at " << y - r.top;
    }
    EXPECT_EQ(ScreenPixel(r.left + 1, r.top + 1), shadow) << id << ": the lowered bevel";
  }
  for (int id : {ID_RadioGroup_TimeType, ID_RadioGroup_AutoStart}) {
    const RECT r = ScreenRect(Control(id));
    const SIZE caption = TextExtent(kFlat, kMainLayout.fontHeight, Text(id));
    const int y = r.top + caption.cy / 2;  // the frame's top line
    for (int x : {6, 7, 8 + static_cast<int>(caption.cx), 9 + static_cast<int>(caption.cx)}) {
      EXPECT_EQ(ScreenPixel(r.left + x, y), face) << Text(id) << ": the gap at " << x;
    }
    EXPECT_EQ(ScreenPixel(r.left + 5, y), shadow) << Text(id) << ": the frame before the gap";
    EXPECT_EQ(ScreenPixel(r.left + 10 + caption.cx, y), shadow) << Text(id) << ": and after it";
  }
}

// An opened list shows at most eight rows; the port list scrolls through its twenty.
TEST_F(ClockAgentProgram, OpenedListsShowAtMostEightRows) {
  Launch();
  ShowMain();
  const auto openedList = [this] { return Shown("ComboLBox"); };
  for (const auto& [id, rows] : {std::pair{ID_ComboBox_COM, 8}, std::pair{ID_ComboBox_BaudRate, 5},
                                 std::pair{ID_ComboBox_Parity, 3}}) {
    SendMessageA(Control(id), CB_SHOWDROPDOWN, TRUE, 0);
    HWND list = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (list = openedList()) != nullptr; }, 3000)) << id;
    RECT client;
    GetClientRect(list, &client);
    const auto rowHeight = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    ASSERT_GT(rowHeight, 0);
    EXPECT_EQ(client.bottom / rowHeight, rows) << id;
    SendMessageA(Control(id), CB_SHOWDROPDOWN, FALSE, 0);
    ASSERT_TRUE(WaitFor([&] { return openedList() == nullptr; }, 3000));
  }
}

TEST_F(ClockAgentProgram, ClosingTheTaskbarEntryHidesTheProgram) {
  Launch();
  ShowMain();
  HWND application = GetWindow(main_, GW_OWNER);
  PostMessageA(main_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitFor([&] { return IsIconic(application) && IsWindowVisible(application); }, 3000));
  PostMessageA(application, WM_CLOSE, 0, 0);  // the taskbar entry's Close
  EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(application); }, 3000)) << "the entry goes";
  EXPECT_EQ(WaitForSingleObject(process_.hProcess, 500), static_cast<DWORD>(WAIT_TIMEOUT))
      << "only Exit ends the program";
  EXPECT_FALSE(IsWindowVisible(main_));
  ShowMain();
  EXPECT_TRUE(IsWindowVisible(main_));
  EXPECT_FALSE(IsWindowVisible(application));
}

// Two calls only a real Windows desktop answers (wine lets every process hear every message and
// take the foreground): admitting Explorer's "TaskbarCreated" to a process with raised rights,
// and a second start handing the foreground right to the first before asking it to restore.
// Wine's relay channel shows that the program makes them, and with which arguments.
TEST_F(ClockAgentProgram, ItAdmitsExplorerRestartsAndHandsOverTheForeground) {
  const char* log = std::getenv("CLOCKAGENT_WINE_STDERR");
  ASSERT_NE(log, nullptr) << "the harness keeps wine's debug output in this file";
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Debug", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char relayed[] =
      "user32.ChangeWindowMessageFilterEx;user32.AllowSetForegroundWindow;user32.PostMessageA";
  RegSetValueExA(key, "RelayInclude", 0, REG_SZ, reinterpret_cast<const BYTE*>(relayed),
                 sizeof relayed);
  Launch(true);
  PROCESS_INFORMATION second{};
  const bool started = StartProgram(&second, true);
  if (started) {
    EXPECT_EQ(WaitForSingleObject(second.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(second.hProcess);
    CloseHandle(second.hThread);
  }
  RegDeleteValueA(key, "RelayInclude");
  RegCloseKey(key);
  ASSERT_TRUE(started);
  EXPECT_TRUE(WaitFor([this] { return IsWindowVisible(main_) != FALSE; }, 3000));

  const auto hex = [](unsigned long long value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*llx", digits, value);
    return std::string(text);
  };
  // Relay lines start with the calling thread's id: each program's main thread makes these calls.
  const std::string output = FileText(std::string("Z:") + log);
  const auto call = [&](DWORD thread, const std::string& function, const std::string& arguments) {
    return output.find(hex(thread, 4) + ":Call user32." + function + "(" + arguments);
  };
  const std::string window = hex(reinterpret_cast<std::uintptr_t>(main_), 8);
  const std::string admitted = window + "," + hex(RegisterWindowMessageA("TaskbarCreated"), 8) +
                               ",00000001,00000000)";
  EXPECT_NE(call(process_.dwThreadId, "ChangeWindowMessageFilterEx", admitted), std::string::npos)
      << admitted;
  const auto handedOver = call(second.dwThreadId, "AllowSetForegroundWindow",
                               hex(process_.dwProcessId, 8) + ")");
  const auto asked = call(second.dwThreadId, "PostMessageA",
                          window + "," + hex(WM_RESTORE_REQUEST, 8) + ",");
  EXPECT_NE(handedOver, std::string::npos);
  EXPECT_NE(asked, std::string::npos);
  EXPECT_LT(handedOver, asked) << "the right first, then the request";

  // When Explorer has restarted, the icon is added again.
  NOTIFYICONDATAA icon{};
  icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
  icon.hWnd = main_;
  icon.uID = kTrayIconIds[0];
  Shell_NotifyIconA(NIM_DELETE, &icon);
  ASSERT_TRUE(WaitFor([] { return TrayPixels(kRim) == 0; }, 3000)) << "the icon is gone";
  PostMessageA(main_, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
  EXPECT_TRUE(WaitFor([] { return TrayPixels(kRim) > 0; }, 3000)) << "and back";
}

// The interval field is checked only when the focus moves to another control of its window.
// Going elsewhere leaves the edit as it was, and coming back, the focus is in the field again
// with its edit going on: Tab is still refused, and Esc puts back the text from before the edit.
TEST_F(ClockAgentProgram, TheIntervalFieldKeepsItsEditWhileTheFocusIsElsewhere) {
  Launch();
  ShowMain();
  HWND other = CreateWindowExA(0, "STATIC", "another program", WS_POPUP | WS_CAPTION, 0, 0, 200,
                               80, nullptr, nullptr, nullptr, nullptr);
  Click(ID_MaskEdit_Interval);
  SendMessageA(Control(ID_MaskEdit_Interval), EM_SETSEL, 8, 8);
  Key(VK_BACK);
  ASSERT_EQ(Text(ID_MaskEdit_Interval), "00 06:0_");
  const std::pair<const char*, std::function<void()>> ways[] = {
      {"closing the window", [this] { PostMessageA(main_, WM_CLOSE, 0, 0); }},
      {"minimising it", [this] { PostMessageA(main_, WM_SYSCOMMAND, SC_MINIMIZE, 0); }},
      {"another window of the program", [this] { Command(ID_HelpAbout); }},
      {"another program", [other] {
         ShowWindow(other, SW_SHOW);
         SetForegroundWindow(other);
       }},
      {"the icon's menu", [this] {
         Tray(WM_RBUTTONUP);
         Sleep(500);
         Key(VK_ESCAPE);
       }},
  };
  for (const auto& [way, away] : ways) {
    away();
    EXPECT_EQ(MessageBoxText(1000), "no message box") << way;
    ShowWindow(other, SW_HIDE);
    // Back by the icon, and a click on the window (without a window manager, wine may leave a
    // restored window inactive).
    ShowMain();
    Click(ID_Label1);
    EXPECT_TRUE(WaitFor([this] { return FocusId() == ID_MaskEdit_Interval; }, 5000))
        << way << ": the focus is back in the field, not " << FocusId();
    EXPECT_EQ(Text(ID_MaskEdit_Interval), "00 06:0_") << way;
  }
  Key(VK_TAB);
  EXPECT_EQ(MessageBoxText(), "ClockAgent: Invalid input value.  Use escape key to abandon changes.");
  Sleep(300);
  EXPECT_EQ(MessageBoxText(500), "no message box");
  ASSERT_TRUE(WaitFor([this] { return FocusId() == ID_MaskEdit_Interval; }, 3000));
  Key(VK_ESCAPE);
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "00 06:00");

  // Start disables the field, which so loses the focus: no message either.
  Key(VK_END);
  Key(VK_BACK);
  ASSERT_EQ(Text(ID_MaskEdit_Interval), "00 06:0_");
  Command(ID_Control_Start);
  EXPECT_TRUE(WaitText(ID_Panel_OnOff, "On"));
  EXPECT_EQ(MessageBoxText(1000), "no message box") << "Start";
  DestroyWindow(other);
}

// The mask holds against the arrow keys, typing over a selection and pasting; a paste is taken
// digit by digit into the digit positions, or refused whole.
TEST_F(ClockAgentProgram, TheIntervalFieldHoldsItsMask) {
  Launch();
  ShowMain();
  Click(ID_MaskEdit_Interval);
  HWND field = Control(ID_MaskEdit_Interval);
  const auto clipboard = [](const char* text) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, std::strlen(text) + 1);
    std::memcpy(GlobalLock(data), text, std::strlen(text) + 1);
    GlobalUnlock(data);
    SetClipboardData(CF_TEXT, data);
    CloseClipboard();
  };
  const auto ctrl = [](WORD key) {
    keybd_event(VK_CONTROL, 0, 0, 0);
    Key(key);
    keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
  };
  Key(VK_HOME);
  for (int i = 0; i < 3; ++i) Key(VK_RIGHT);  // onto the fixed space and past it
  Key('1');
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "00 16:00");
  keybd_event(VK_SHIFT, 0, 0, 0);
  Key(VK_END);
  keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
  Key('5');  // over the selection "6:00"
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "00 15:__");

  clipboard("01 07:30");
  SendMessageA(field, EM_SETSEL, 0, 0);
  ctrl('V');
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "01 07:30");
  clipboard("2 days");
  SendMessageA(field, EM_SETSEL, 0, 0);
  ctrl('V');
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "01 07:30") << "refused whole";
  clipboard("45");
  SendMessageA(field, EM_SETSEL, 3, 5);
  ctrl('V');
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "01 45:30");
  ctrl('A');
  Key(VK_DELETE);
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "__ __:__");
  Key(VK_ESCAPE);
  EXPECT_EQ(Text(ID_MaskEdit_Interval), "00 06:00");
}

// As with a push button: pressed, a speed button rises while the pointer is off it and does
// nothing when released there; a click on the button of a window that is not active works.
TEST_F(ClockAgentProgram, SpeedButtonsActOnlyOnAClickThatEndsOnThem) {
  Launch();
  ShowMain();
  Select(ID_ComboBox_COM, 18);  // COM 19: no such port, so an attempt ends at once
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
  const RECT button = ScreenRect(Control(ID_SpeedButton_Refresh));
  const auto sunken = [&] { return ScreenPixel(button.left, button.top) == shadow; };
  const auto moveTo = [](int x, int y) {
    SetCursorPos(x, y);
    mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0);
    Sleep(200);
  };
  const int x = (button.left + button.right) / 2, y = (button.top + button.bottom) / 2;
  moveTo(x, y);
  mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
  EXPECT_TRUE(WaitFor(sunken, 1000)) << "pressed";
  moveTo(x + 60, y);
  EXPECT_TRUE(WaitFor([&] { return !sunken(); }, 1000)) << "the pointer off it: raised";
  moveTo(x, y);
  EXPECT_TRUE(WaitFor(sunken, 1000)) << "back on it: pressed again";
  moveTo(x + 60, y);
  mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
  Sleep(1000);
  EXPECT_EQ(Text(ID_Panel_TotalUpdates), "0/0") << "released off the button: no Refresh Time";
  EXPECT_FALSE(sunken());

  Command(ID_HelpAbout);  // the main window is no longer the active one
  HWND about = FindWindowA(kInfoWindowClass, "About ClockAgent");
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == about; }, 3000));
  Click(ID_SpeedButton_Refresh);
  EXPECT_TRUE(WaitText(ID_Panel_TotalUpdates, "0/1")) << Text(ID_Panel_TotalUpdates);
  EXPECT_EQ(GetForegroundWindow(), main_) << "the click activates the window, as on a push button";
}

// With the ClockAgent service running, the window never polls the port: it shows the service's
// state and hands it Refresh Time, Start and Stop; Auto Start is the service's, and says so.
TEST_F(ClockAgentProgram, WithTheServiceRunningTheWindowIsItsFrontEnd) {
  Store(kCommValue, "COM12");     // broadcasts the current time
  Store(kAutoStartValue, "ON");   // which must not start the window's own updates
  ASSERT_EQ(RunConsoleTool("service install"), 0);
  Launch();
  ASSERT_TRUE(WaitText(ID_Panel_Status, "Success", 10000)) << Text(ID_Panel_Status);
  EXPECT_EQ(Text(ID_Panel_TotalUpdates), "1/1");
  EXPECT_EQ(Text(ID_Panel_OnOff), "On");
  EXPECT_EQ(Text(ID_Panel_Time).substr(13), ".00");
  EXPECT_EQ(Text(ID_RadioGroup_AutoStart), kAutoStartByService);
  EXPECT_FALSE(Enabled(ID_RadioGroup_AutoStart));
  EXPECT_FALSE(Enabled(ID_SpeedButton_Start));

  Command(ID_SystemTray_Refresh);
  EXPECT_TRUE(WaitText(ID_Panel_TotalUpdates, "2/2", 5000)) << Text(ID_Panel_TotalUpdates);
  Command(ID_Control_Stop);  // wine runs everything as an administrator
  EXPECT_TRUE(WaitText(ID_Panel_OnOff, "Off"));
  EXPECT_TRUE(Enabled(ID_ComboBox_COM));
  EXPECT_FALSE(Enabled(ID_RadioGroup_AutoStart)) << "the service's still";
  EXPECT_EQ(StoredSetting(kServiceScheduleValue), "REG_SZ:OFF");
  Select(ID_ComboBox_BaudRate, 2);
  Command(ID_Control_Start);  // with the window's settings, stored by the service
  EXPECT_TRUE(WaitText(ID_Panel_OnOff, "On"));
  EXPECT_TRUE(WaitText(ID_Panel_TotalUpdates, "1/1", 5000)) << Text(ID_Panel_TotalUpdates);
  EXPECT_EQ(StoredSetting(kServiceScheduleValue), "REG_SZ:ON");

  // Without the service the window is on its own again.
  ASSERT_EQ(RunConsoleTool("service remove"), 0);
  EXPECT_TRUE(WaitText(ID_RadioGroup_AutoStart, "Auto Start", 3000));
  EXPECT_EQ(Text(ID_Panel_OnOff), "Off");
  EXPECT_TRUE(Enabled(ID_RadioGroup_AutoStart));
}

// A service that begins to run while the window runs its own updates takes them over: the
// window's own schedule stops, so the port and the record have one user.
TEST_F(ClockAgentProgram, TheWindowsOwnScheduleStopsWhenTheServiceRuns) {
  Store(kCommValue, "COM12");
  Store(kAutoStartValue, "ON");
  Launch();
  ASSERT_TRUE(WaitText(ID_Panel_OnOff, "On", 5000)) << "the window's own Auto Start";
  ASSERT_EQ(RunConsoleTool("service install"), 0);
  ASSERT_TRUE(WaitText(ID_RadioGroup_AutoStart, kAutoStartByService, 3000));
  ASSERT_EQ(RunConsoleTool("service remove"), 0);
  EXPECT_TRUE(WaitText(ID_RadioGroup_AutoStart, "Auto Start", 3000));
  EXPECT_EQ(Text(ID_Panel_OnOff), "Off") << "the window's own schedule ran on beside the service";
}

}  // namespace
}  // namespace clockagent::test
