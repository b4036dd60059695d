// The windows' layouts and menus as data, a row a control or a menu item.
#pragma once

#include <cstdint>
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
  ID_Label_Pulse,
  ID_ComboBox_Pulse,
  ID_CheckBox_Discipline,
  ID_Label_Protocol,
  ID_ComboBox_Protocol,
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
  // Panel2 again: the fourth speed button.
  ID_SpeedButton_Find,
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
  ID_Control_Find,
};

// Identifiers of the information windows' controls.
enum InfoId : int {
  ID_About_Panel1 = 300,
  ID_About_Image1,
  ID_About_Panel2,
  ID_Label_Version,
  ID_About_Label2,
  ID_Label_Copyright,
  ID_About_Label1,
  ID_Button_OK,
  ID_Packets_Panel1 = 320,
  ID_Packets_Label1,
  ID_Packets_Label4,
  ID_Packets_Panel2,
  ID_Packets_Label2,
  ID_Packets_Label3,
  ID_Packets_Label5,
  ID_Icons_Panel1 = 340,
  ID_Icons_Image1,
  ID_Icons_Label1,
  ID_Icons_Image2,
  ID_Icons_Label2,
  ID_Icons_Image3,
  ID_Icons_Label3,
  ID_Errors_Panel1 = 360,
  ID_Errors_Panel2,
  ID_Errors_Label1,
  ID_Errors_Label4,
  ID_Errors_Label11,
  ID_Errors_Label15,
  ID_Errors_Label2,
  ID_Errors_Label3,
  ID_Errors_Label18,
  ID_Errors_Label5,
  ID_Errors_Label6,
  ID_Errors_Label7,
  ID_Errors_Label9,
  ID_Errors_Label10,
  ID_Errors_Label19,
  ID_Errors_Label20,
  ID_Errors_Label21,
  ID_Errors_Label12,
  ID_Errors_Label13,
  ID_Errors_Label16,
  ID_Errors_Label17,
  ID_Errors_Shape1,
  ID_Errors_Shape2,
  ID_Errors_Shape3,
  ID_Errors_Shape5,
  ID_Errors_Shape6,
  ID_Errors_Shape7,
  ID_Errors_Shape8,
  ID_Errors_Shape9,
  ID_Errors_Label22,
  ID_Errors_Label23,
  ID_Errors_Shape10,
  ID_Errors_Label24,
  ID_Errors_Label25,
  ID_Errors_Shape11,
  ID_Errors_Label26,
  ID_Errors_Label27,
  ID_Errors_Shape12,
  ID_Errors_Label28,
  ID_Errors_Label29,
};

enum class Kind {
  Panel,        // a container with bevels and no caption
  TextPanel,    // a panel that shows its text
  Label,        // text that sizes itself to its text
  MaskEdit,
  RadioGroup,   // a framed, captioned container of radio buttons
  RadioButton,
  DropDown,
  SpeedButton,  // a picture button that never takes the focus; its text names the picture
  Picture,      // a bitmap at the top left of its area; its text names the bitmap
  Icon,         // an icon at the standard icon size; its text names the icon
  Button,       // the default push button
  Bullet,       // a filled circle in its colour
  CheckBox,
};

enum Look : unsigned {
  kFlat = 0,
  kLoweredOuter = 1u << 0,
  kRaisedOuter = 1u << 1,
  kLoweredInner = 1u << 2,
  kBorder = 1u << 3,        // one pixel between the outer and the inner bevel
  kTwoPixels = 1u << 4,     // bevels two pixels wide
  kWindowColour = 1u << 5,  // the window-background colour instead of the face colour
  kBold = 1u << 6,          // 13 px bold
  kTimes = 1u << 7,         // "Times New Roman", 16 px
  kRightAligned = 1u << 8,  // a label's right edge stays where the layout puts it
  kCentred = 1u << 9,       // a label centred on its parent; a panel's text centred
};

// Colours as the window system takes them (0x00BBGGRR); kSystemColour: the system's colour for
// the element.
using Colour = std::uint32_t;
constexpr Colour Rgb(unsigned r, unsigned g, unsigned b) { return r | g << 8 | b << 16; }
constexpr Colour kSystemColour = 0xFFFFFFFF;
constexpr Colour kTeal = Rgb(0x00, 0x80, 0x80);
constexpr Colour kGrey = Rgb(0x80, 0x80, 0x80);
constexpr Colour kWhite = Rgb(0xFF, 0xFF, 0xFF);
constexpr Colour kBlack = Rgb(0x00, 0x00, 0x00);

// One control of a window's layout: what it is, where it sits, what it says.
struct ControlRow {
  int id;
  Kind kind;
  int parent;  // a control's id, or kNoParent for the window; parents come before their children
  int left, top, width, height;
  const char* text;  // caption or initial text; a picture's resource; a list's items come from DropDownItems
  const char* hint;  // nullptr: the container's hint applies
  Colour colour;     // a panel's background, a label's or a bullet's colour
  unsigned look;     // Look flags
};

// A window's layout: its caption, client area, font and controls (tab order is the order of the
// rows within each parent).
struct WindowLayout {
  const char* caption;
  int width, height;  // client area
  int fontHeight;     // "MS Sans Serif" at this many pixels
  const ControlRow* rows;
  int count;
};

extern const WindowLayout kMainLayout;
extern const WindowLayout kAboutLayout;
extern const WindowLayout kPacketsLayout;
extern const WindowLayout kIconsLayout;
extern const WindowLayout kErrorsLayout;

struct MenuRow {
  int id;  // 0 for a separator; -1 starts a drop-down menu with this caption
  const char* caption;
  bool enabled;
};

extern const MenuRow kMainMenu[];
extern const int kMainMenuCount;
extern const MenuRow kTrayMenu[];
extern const int kTrayMenuCount;

constexpr char kMainCaption[] = CLOCKAGENT_PRODUCT " " CLOCKAGENT_VERSION_TEXT " TESTING ONLY";
constexpr char kApplicationTitle[] = CLOCKAGENT_PRODUCT;
constexpr char kMainWindowClass[] = "TForm_Main";
constexpr char kVersionFormat[] = "Version %s";

// The entries of a drop-down list: "COM 1" to "COM 20", a line setting's texts, or the pulse
// line's: "NONE", "DCD" and "CTS", in the order of PulseLine.
std::vector<std::string> DropDownItems(int id);

}  // namespace clockagent::ui
