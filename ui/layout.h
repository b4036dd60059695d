// The main window's layout as data: each row reads like a row of the design tables.
#pragma once

#include <string>
#include <vector>

#include "version.h"

namespace clockagent::ui {

// Control identifiers: also what the test driver uses to find a control.
enum ControlId : int {
  kNoParent = 0,
  // Top-level children.
  ID_Panel_Setup = 100,
  ID_Panel1,
  ID_Panel2,
  ID_Panel_LastAttempt,
  ID_Panel_LastUpdate,
  ID_Panel_StatusBar,
  // Panel_Setup.
  ID_Label1,
  ID_Label3,
  ID_MaskEdit_Interval,
  ID_Label5,
  ID_RadioGroup_TimeType,
  ID_RadioGroup_AutoStart,
  ID_Label2,
  ID_ComboBox_COM,
  ID_Label6,
  ID_ComboBox_BaudRate,
  ID_Label8,
  ID_ComboBox_DataBits,
  ID_Label11,
  ID_ComboBox_Parity,
  ID_Label12,
  ID_ComboBox_StopBits,
  // Panel2, the tool bar.
  ID_SpeedButton_Start,
  ID_SpeedButton_Stop,
  ID_SpeedButton_Refresh,
  // Panel_LastAttempt.
  ID_Label4,
  ID_Label7,
  ID_Panel_Status,
  // Panel_LastUpdate.
  ID_Label9,
  ID_Label10,
  ID_Panel_Time,
  ID_Label_GMT,
  // Panel_StatusBar.
  ID_Panel_Hint,
  ID_Panel_OnOff,
  ID_Panel_TotalUpdates,
  // The buttons of the two radio groups.
  ID_TimeType_UTC,
  ID_TimeType_GPS,
  ID_AutoStart_ON,
  ID_AutoStart_OFF,
};

// Menu item identifiers.
enum MenuId : int {
  ID_Control_Start = 200,
  ID_Control_Stop,
  ID_Control_Refresh,
  ID_Control_Close,
  ID_Control_Exit,
  ID_HelpPkts,
  ID_HelpIcons,
  ID_HelpErrors,
  ID_HelpAbout,
  ID_SystemTray_Restore,
  ID_SystemTray_Refresh,
  ID_SystemTray_About,
  ID_SystemTray_Close,
  ID_SystemTray_Exit,
};

enum class Kind {
  Panel,        // a container with bevels and no caption
  TextPanel,    // a panel that shows centred text
  StatusField,  // a status bar field
  Label,
  BoldLabel,    // 13 px bold heading
  MaskEdit,
  RadioGroup,   // a framed, captioned container of radio buttons
  RadioButton,
  DropDown,
  SpeedButton,
};

enum Bevel : unsigned {
  kNoBevel = 0,
  kLoweredOuter = 1,
  kRaisedOuter = 2,
  kLoweredInner = 4,
};

struct ControlSpec {
  int id;
  const char* name;
  Kind kind;
  int parent;  // a ControlId, or kNoParent for the window
  int left, top, width, height;
  const char* text;  // caption or initial text; a list's items come from DropDownItems
  const char* hint;  // nullptr: the container's hint applies
  unsigned bevel;
};

extern const ControlSpec kMainControls[];
extern const int kMainControlCount;

struct MenuSpec {
  int id;  // 0 for a separator; -1 starts a drop-down menu with this caption
  const char* name;
  const char* caption;
  bool enabled;
};

extern const MenuSpec kMainMenu[];
extern const int kMainMenuCount;
extern const MenuSpec kTrayMenu[];
extern const int kTrayMenuCount;

constexpr int kClientWidth = 393;
constexpr int kClientHeight = 293;
constexpr char kMainCaption[] = "ClockAgent " CLOCKAGENT_VERSION_TEXT " TESTING ONLY";
constexpr char kApplicationTitle[] = "ClockAgent";
constexpr char kMainWindowClass[] = "TForm_Main";

const ControlSpec* FindControl(int id);

// The entries of a drop-down list: "COM 1" to "COM 20", or a line setting's texts.
std::vector<std::string> DropDownItems(int id);

}  // namespace clockagent::ui
