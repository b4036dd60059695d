// The main window's layout, its menus, and their texts and hints.
#include "ui/layout.h"

#include <iterator>

#include "receiver/line_settings.h"

namespace clockagent::ui {
namespace {

constexpr char kSetupHint[] = "ClockAgent Setup";
constexpr char kPortHint[] = "Serial port selection";
constexpr char kIntervalHint[] = "Interval between clock update attempts";
constexpr char kTimeTypeHint[] = "Time in GPS or UTC";
constexpr char kAutoStartHint[] = "Automatically start update timer when ClockAgent starts.";
constexpr char kAttemptHint[] = "Info about last clock update attempt";
constexpr char kUpdateHint[] = "Info about last successful clock update";
constexpr char kTimeHint[] = "Time of last successful clock update";
constexpr char kEmpty[] = "";

}  // namespace

// Tab order is the order of the rows within each parent.
const ControlSpec kMainControls[] = {
    // id                     name                    kind              parent        left top  w    h   text  hint  bevel
    {ID_Panel_Setup, "Panel_Setup", Kind::Panel, kNoParent, 0, 33, 393, 163, "", kSetupHint, kLoweredOuter},
    {ID_Panel1, "Panel1", Kind::Panel, kNoParent, 0, 0, 393, 2, "", kEmpty, kLoweredOuter},
    {ID_Panel2, "Panel2", Kind::Panel, kNoParent, 0, 2, 393, 31, "", kEmpty, kNoBevel},
    {ID_Panel_LastAttempt, "Panel_LastAttempt", Kind::Panel, kNoParent, 0, 199, 197, 67, "", kAttemptHint, kLoweredOuter},
    {ID_Panel_LastUpdate, "Panel_LastUpdate", Kind::Panel, kNoParent, 200, 199, 193, 67, "", kUpdateHint, kLoweredOuter},
    {ID_Panel_StatusBar, "Panel_StatusBar", Kind::Panel, kNoParent, 0, 269, 393, 24, "", kEmpty, kRaisedOuter},

    {ID_Label1, "Label1", Kind::BoldLabel, ID_Panel_Setup, 8, 8, 45, 16, "Setup:", kSetupHint, 0},
    {ID_Label3, "Label3", Kind::Label, ID_Panel_Setup, 8, 36, 35, 13, "Interval", kIntervalHint, 0},
    {ID_MaskEdit_Interval, "MaskEdit_Interval", Kind::MaskEdit, ID_Panel_Setup, 64, 32, 65, 21, "00 06:00", kIntervalHint, 0},
    {ID_Label5, "Label5", Kind::Label, ID_Panel_Setup, 132, 36, 46, 13, "dd hh:mm", kIntervalHint, 0},
    {ID_RadioGroup_TimeType, "RadioGroup_TimeType", Kind::RadioGroup, ID_Panel_Setup, 8, 64, 177, 41, "Time In", kTimeTypeHint, 0},
    {ID_TimeType_UTC, "UTC", Kind::RadioButton, ID_RadioGroup_TimeType, 8, 16, 80, 17, "UTC", nullptr, 0},
    {ID_TimeType_GPS, "GPS", Kind::RadioButton, ID_RadioGroup_TimeType, 92, 16, 80, 17, "GPS", nullptr, 0},
    {ID_RadioGroup_AutoStart, "RadioGroup_AutoStart", Kind::RadioGroup, ID_Panel_Setup, 8, 112, 177, 41, "Auto Start", kAutoStartHint, 0},
    {ID_AutoStart_ON, "ON", Kind::RadioButton, ID_RadioGroup_AutoStart, 8, 16, 80, 17, "ON", nullptr, 0},
    {ID_AutoStart_OFF, "OFF", Kind::RadioButton, ID_RadioGroup_AutoStart, 92, 16, 80, 17, "OFF", nullptr, 0},
    {ID_Label2, "Label2", Kind::Label, ID_Panel_Setup, 216, 36, 48, 13, "Serial Port", kPortHint, 0},
    {ID_ComboBox_COM, "ComboBox_COM", Kind::DropDown, ID_Panel_Setup, 280, 32, 89, 21, "", kPortHint, 0},
    {ID_Label6, "Label6", Kind::Label, ID_Panel_Setup, 216, 61, 51, 13, "Baud Rate", nullptr, 0},
    {ID_ComboBox_BaudRate, "ComboBox_BaudRate", Kind::DropDown, ID_Panel_Setup, 280, 57, 89, 21, "", nullptr, 0},
    {ID_Label8, "Label8", Kind::Label, ID_Panel_Setup, 216, 86, 43, 13, "Data Bits", nullptr, 0},
    {ID_ComboBox_DataBits, "ComboBox_DataBits", Kind::DropDown, ID_Panel_Setup, 280, 82, 89, 21, "", nullptr, 0},
    {ID_Label11, "Label11", Kind::Label, ID_Panel_Setup, 216, 111, 26, 13, "Parity", nullptr, 0},
    {ID_ComboBox_Parity, "ComboBox_Parity", Kind::DropDown, ID_Panel_Setup, 280, 107, 89, 21, "", nullptr, 0},
    {ID_Label12, "Label12", Kind::Label, ID_Panel_Setup, 216, 136, 42, 13, "Stop Bits", nullptr, 0},
    {ID_ComboBox_StopBits, "ComboBox_StopBits", Kind::DropDown, ID_Panel_Setup, 280, 132, 89, 21, "", nullptr, 0},

    {ID_SpeedButton_Start, "SpeedButton_Start", Kind::SpeedButton, ID_Panel2, 6, 3, 25, 25, "START", "Start", 0},
    {ID_SpeedButton_Stop, "SpeedButton_Stop", Kind::SpeedButton, ID_Panel2, 31, 3, 25, 25, "STOP", "Stop", 0},
    {ID_SpeedButton_Refresh, "SpeedButton_Refresh", Kind::SpeedButton, ID_Panel2, 64, 3, 25, 25, "REFRESH", "Refresh Time", 0},

    {ID_Label4, "Label4", Kind::BoldLabel, ID_Panel_LastAttempt, 8, 8, 90, 16, "Last Attempt:", kAttemptHint, 0},
    {ID_Label7, "Label7", Kind::Label, ID_Panel_LastAttempt, 8, 39, 30, 13, "Status", kAttemptHint, 0},
    {ID_Panel_Status, "Panel_Status", Kind::TextPanel, ID_Panel_LastAttempt, 48, 35, 137, 21, "", kAttemptHint, kLoweredOuter},

    {ID_Label9, "Label9", Kind::BoldLabel, ID_Panel_LastUpdate, 8, 8, 89, 16, "Last Update:", kUpdateHint, 0},
    {ID_Label10, "Label10", Kind::Label, ID_Panel_LastUpdate, 8, 39, 23, 13, "Time", kTimeHint, 0},
    {ID_Panel_Time, "Panel_Time", Kind::TextPanel, ID_Panel_LastUpdate, 48, 35, 105, 21, "", kTimeHint, kLoweredOuter},
    {ID_Label_GMT, "Label_GMT", Kind::Label, ID_Panel_LastUpdate, 159, 39, 24, 13, "GMT", nullptr, 0},

    {ID_Panel_Hint, "Panel_Hint", Kind::StatusField, ID_Panel_StatusBar, 1, 1, 297, 22, "", "Hint Box", kLoweredInner},
    {ID_Panel_OnOff, "Panel_OnOff", Kind::StatusField, ID_Panel_StatusBar, 298, 1, 32, 22, "Off", "ClockAgent status", kLoweredInner},
    {ID_Panel_TotalUpdates, "Panel_TotalUpdates", Kind::StatusField, ID_Panel_StatusBar, 330, 1, 62, 22, "0/0", "Successful Updates / Update Attempts", kLoweredInner},
};
const int kMainControlCount = sizeof kMainControls / sizeof kMainControls[0];

const MenuSpec kMainMenu[] = {
    {-1, "ControlMenu", "&Control", true},
    {ID_Control_Start, "Control_Start", "&Start", true},
    {ID_Control_Stop, "Control_Stop", "Sto&p", false},
    {ID_Control_Refresh, "Control_Refresh", "&Refresh Time", true},
    {ID_Control_Close, "Control_Close", "&Close", true},
    {0, "N2", "-", true},
    {ID_Control_Exit, "Control_Exit", "E&xit", true},
    {-1, "HelpMenu", "&Help", true},
    {ID_HelpPkts, "HelpPkts", "&Supported Pkts...", true},
    {ID_HelpIcons, "HelpIcons", "System Tray &Icons...", true},
    {ID_HelpErrors, "HelpErrors", "&Errors...", true},
    {0, "N1", "-", true},
    {ID_HelpAbout, "HelpAbout", "&About...", true},
};
const int kMainMenuCount = sizeof kMainMenu / sizeof kMainMenu[0];

const MenuSpec kTrayMenu[] = {
    {ID_SystemTray_Restore, "SystemTray_Restore", "&Restore", true},
    {ID_SystemTray_Refresh, "SystemTray_Refresh", "Refresh &Time", true},
    {ID_SystemTray_About, "SystemTray_About", "&About", true},
    {ID_SystemTray_Close, "SystemTray_Close", "&Close", false},
    {0, "N3", "-", true},
    {ID_SystemTray_Exit, "SystemTray_Exit", "E&xit", true},
};
const int kTrayMenuCount = sizeof kTrayMenu / sizeof kTrayMenu[0];

std::vector<std::string> DropDownItems(int id) {
  std::vector<std::string> items;
  if (id == ID_ComboBox_COM) {
    for (int port = 1; port <= kPortCount; ++port) items.push_back("COM " + std::to_string(port));
  }
  const int lists[] = {ID_ComboBox_BaudRate, ID_ComboBox_DataBits, ID_ComboBox_Parity,
                       ID_ComboBox_StopBits};  // in the order of kLineLists
  for (std::size_t i = 0; i < std::size(lists); ++i) {
    if (id != lists[i]) continue;
    for (int entry = 0; entry < kLineLists[i].count; ++entry) {
      items.emplace_back(kLineLists[i].choices[entry].text);
    }
  }
  return items;
}

const ControlSpec* FindControl(int id) {
  for (const ControlSpec& spec : kMainControls) {
    if (spec.id == id) return &spec;
  }
  return nullptr;
}

}  // namespace clockagent::ui
