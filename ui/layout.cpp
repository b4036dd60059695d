// The windows' layouts, the main window's menus, and their texts and hints.
#include "ui/layout.h"

#include <iterator>

#include "receiver/line_settings.h"
#include "receiver/pulse_edges.h"

namespace clockagent::ui {
namespace {

constexpr char kSetupHint[] = "ClockAgent Setup";
constexpr char kPortHint[] = "Serial port selection";
constexpr char kIntervalHint[] = "Interval between clock update attempts";
constexpr char kTimeTypeHint[] = "Time in GPS or UTC";
constexpr char kAutoStartHint[] = "Automatically start update timer when ClockAgent starts.";
constexpr char kPulseHint[] = "Modem line the receiver's pulse per second is wired to";
constexpr char kProtocolHint[] = "What the receiver speaks: DARO timing packets or NMEA sentences";
constexpr char kDisciplineHint[] =
    "Hold the clock between updates by its rate; step only offsets over 0.128 s";
constexpr char kAttemptHint[] = "Info about last clock update attempt";
constexpr char kUpdateHint[] = "Info about last successful clock update";
constexpr char kTimeHint[] = "Time of last successful clock update";
constexpr char kEmpty[] = "";

// Tab order is the order of the rows within each parent.
const ControlRow kMainControls[] = {
    // id, kind, parent, left, top, width, height, text, hint, colour, look
    {ID_Panel_Setup, Kind::Panel, kNoParent, 0, 33, 393, 213, "", kSetupHint, kSystemColour, kLoweredOuter},
    {ID_Panel1, Kind::Panel, kNoParent, 0, 0, 393, 2, "", kEmpty, kSystemColour, kLoweredOuter},
    {ID_Panel2, Kind::Panel, kNoParent, 0, 2, 393, 31, "", kEmpty, kSystemColour, kFlat},
    {ID_Panel_LastAttempt, Kind::Panel, kNoParent, 0, 249, 197, 67, "", kAttemptHint, kSystemColour, kLoweredOuter},
    {ID_Panel_LastUpdate, Kind::Panel, kNoParent, 200, 249, 193, 67, "", kUpdateHint, kSystemColour, kLoweredOuter},
    {ID_Panel_StatusBar, Kind::Panel, kNoParent, 0, 319, 393, 24, "", kEmpty, kSystemColour, kRaisedOuter},

    {ID_Label1, Kind::Label, ID_Panel_Setup, 8, 8, 45, 16, "Setup:", kSetupHint, kSystemColour, kBold},
    {ID_Label3, Kind::Label, ID_Panel_Setup, 8, 36, 35, 13, "Interval", kIntervalHint, kSystemColour, kFlat},
    {ID_MaskEdit_Interval, Kind::MaskEdit, ID_Panel_Setup, 64, 32, 65, 21, "00 06:00", kIntervalHint, kSystemColour, kFlat},
    {ID_Label5, Kind::Label, ID_Panel_Setup, 132, 36, 46, 13, "dd hh:mm", kIntervalHint, kSystemColour, kFlat},
    {ID_RadioGroup_TimeType, Kind::RadioGroup, ID_Panel_Setup, 8, 64, 177, 41, "Time In", kTimeTypeHint, kSystemColour, kFlat},
    {ID_TimeType_UTC, Kind::RadioButton, ID_RadioGroup_TimeType, 8, 16, 80, 17, "UTC", nullptr, kSystemColour, kFlat},
    {ID_TimeType_GPS, Kind::RadioButton, ID_RadioGroup_TimeType, 92, 16, 80, 17, "GPS", nullptr, kSystemColour, kFlat},
    {ID_RadioGroup_AutoStart, Kind::RadioGroup, ID_Panel_Setup, 8, 112, 177, 41, "Auto Start", kAutoStartHint, kSystemColour, kFlat},
    {ID_AutoStart_ON, Kind::RadioButton, ID_RadioGroup_AutoStart, 8, 16, 80, 17, "ON", nullptr, kSystemColour, kFlat},
    {ID_AutoStart_OFF, Kind::RadioButton, ID_RadioGroup_AutoStart, 92, 16, 80, 17, "OFF", nullptr, kSystemColour, kFlat},
    {ID_Label2, Kind::Label, ID_Panel_Setup, 216, 36, 48, 13, "Serial Port", kPortHint, kSystemColour, kFlat},
    {ID_ComboBox_COM, Kind::DropDown, ID_Panel_Setup, 280, 32, 89, 21, "", kPortHint, kSystemColour, kFlat},
    {ID_Label6, Kind::Label, ID_Panel_Setup, 216, 61, 51, 13, "Baud Rate", nullptr, kSystemColour, kFlat},
    {ID_ComboBox_BaudRate, Kind::DropDown, ID_Panel_Setup, 280, 57, 89, 21, "", nullptr, kSystemColour, kFlat},
    {ID_Label8, Kind::Label, ID_Panel_Setup, 216, 86, 43, 13, "Data Bits", nullptr, kSystemColour, kFlat},
    {ID_ComboBox_DataBits, Kind::DropDown, ID_Panel_Setup, 280, 82, 89, 21, "", nullptr, kSystemColour, kFlat},
    {ID_Label11, Kind::Label, ID_Panel_Setup, 216, 111, 26, 13, "Parity", nullptr, kSystemColour, kFlat},
    {ID_ComboBox_Parity, Kind::DropDown, ID_Panel_Setup, 280, 107, 89, 21, "", nullptr, kSystemColour, kFlat},
    {ID_Label12, Kind::Label, ID_Panel_Setup, 216, 136, 42, 13, "Stop Bits", nullptr, kSystemColour, kFlat},
    {ID_ComboBox_StopBits, Kind::DropDown, ID_Panel_Setup, 280, 132, 89, 21, "", nullptr, kSystemColour, kFlat},
    {ID_Label_Pulse, Kind::Label, ID_Panel_Setup, 216, 161, 27, 13, "Pulse", kPulseHint, kSystemColour, kFlat},
    {ID_ComboBox_Pulse, Kind::DropDown, ID_Panel_Setup, 280, 157, 89, 21, "", kPulseHint, kSystemColour, kFlat},
    {ID_Label_Protocol, Kind::Label, ID_Panel_Setup, 216, 186, 41, 13, "Protocol", kProtocolHint, kSystemColour, kFlat},
    {ID_ComboBox_Protocol, Kind::DropDown, ID_Panel_Setup, 280, 182, 89, 21, "", kProtocolHint, kSystemColour, kFlat},
    {ID_CheckBox_Discipline, Kind::CheckBox, ID_Panel_Setup, 8, 161, 177, 17, "Discipline the clock's rate", kDisciplineHint, kSystemColour, kFlat},

    {ID_SpeedButton_Start, Kind::SpeedButton, ID_Panel2, 6, 3, 25, 25, "START", "Start", kSystemColour, kFlat},
    {ID_SpeedButton_Stop, Kind::SpeedButton, ID_Panel2, 31, 3, 25, 25, "STOP", "Stop", kSystemColour, kFlat},
    {ID_SpeedButton_Refresh, Kind::SpeedButton, ID_Panel2, 64, 3, 25, 25, "REFRESH", "Refresh Time", kSystemColour, kFlat},
    {ID_SpeedButton_Find, Kind::SpeedButton, ID_Panel2, 97, 3, 25, 25, "FIND", "Find Receiver", kSystemColour, kFlat},

    {ID_Label4, Kind::Label, ID_Panel_LastAttempt, 8, 8, 90, 16, "Last Attempt:", kAttemptHint, kSystemColour, kBold},
    {ID_Label7, Kind::Label, ID_Panel_LastAttempt, 8, 39, 30, 13, "Status", kAttemptHint, kSystemColour, kFlat},
    {ID_Panel_Status, Kind::TextPanel, ID_Panel_LastAttempt, 48, 35, 137, 21, "", kAttemptHint, kSystemColour, kLoweredOuter | kWindowColour | kCentred},

    {ID_Label9, Kind::Label, ID_Panel_LastUpdate, 8, 8, 89, 16, "Last Update:", kUpdateHint, kSystemColour, kBold},
    {ID_Label10, Kind::Label, ID_Panel_LastUpdate, 8, 39, 23, 13, "Time", kTimeHint, kSystemColour, kFlat},
    {ID_Panel_Time, Kind::TextPanel, ID_Panel_LastUpdate, 48, 35, 105, 21, "", kTimeHint, kSystemColour, kLoweredOuter | kWindowColour | kCentred},
    {ID_Label_GMT, Kind::Label, ID_Panel_LastUpdate, 159, 39, 24, 13, "GMT", nullptr, kSystemColour, kFlat},

    {ID_Panel_Hint, Kind::TextPanel, ID_Panel_StatusBar, 1, 1, 297, 22, "", "Hint Box", kSystemColour, kLoweredInner | kBorder},
    {ID_Panel_OnOff, Kind::TextPanel, ID_Panel_StatusBar, 298, 1, 32, 22, "Off", "ClockAgent status", kSystemColour, kLoweredInner | kBorder | kCentred},
    {ID_Panel_TotalUpdates, Kind::TextPanel, ID_Panel_StatusBar, 330, 1, 62, 22, "0/0", "Successful Updates / Update Attempts", kSystemColour, kLoweredInner | kBorder | kCentred},
};

// About ClockAgent
const ControlRow kAboutControls[] = {
    // id, kind, parent, left, top, width, height, text, hint, colour, look
    {ID_About_Panel1, Kind::Panel, kNoParent, 8, 9, 287, 152, "", nullptr, kTeal, kLoweredOuter | kTwoPixels},
    {ID_About_Image1, Kind::Picture, ID_About_Panel1, 16, 24, 73, 73, "ABOUT", nullptr, kSystemColour, kFlat},
    {ID_About_Panel2, Kind::Panel, ID_About_Panel1, 96, 16, 177, 89, "", nullptr, kSystemColour, kRaisedOuter | kTwoPixels},
    {ID_Label_Version, Kind::Label, ID_About_Panel2, 49, 7, 76, 19, "Version x.xx", nullptr, kBlack, kTimes | kCentred},
    {ID_About_Label2, Kind::Label, ID_About_Panel2, 27, 26, 123, 19, "Part No. VM-CA-104", nullptr, kBlack, kTimes | kCentred},
    {ID_Label_Copyright, Kind::Label, ID_About_Panel2, 14, 44, 150, 19, "Copyright 2026 " CLOCKAGENT_COMPANY, nullptr, kBlack, kTimes | kCentred},
    {ID_About_Label1, Kind::Label, ID_About_Panel2, 15, 63, 148, 19, CLOCKAGENT_COMPANY " Timing Software", nullptr, kBlack, kTimes | kCentred},
    {ID_Button_OK, Kind::Button, ID_About_Panel1, 112, 115, 81, 25, "&OK", nullptr, kSystemColour, kFlat},
};

// Supported DARO Packets (the receiver models are examples, not products).
const ControlRow kPacketsControls[] = {
    // id, kind, parent, left, top, width, height, text, hint, colour, look
    {ID_Packets_Panel1, Kind::Panel, kNoParent, 8, 8, 65, 89, "", nullptr, kGrey, kFlat},
    {ID_Packets_Label1, Kind::Label, ID_Packets_Panel1, 8, 8, 45, 13, "Pkt 0x41:", nullptr, kWhite, kFlat},
    {ID_Packets_Label4, Kind::Label, ID_Packets_Panel1, 8, 56, 51, 13, "Pkt 8F-AB:", nullptr, kWhite, kFlat},
    {ID_Packets_Panel2, Kind::Panel, kNoParent, 73, 8, 184, 89, "", nullptr, kSystemColour, kWindowColour},
    {ID_Packets_Label2, Kind::Label, ID_Packets_Panel2, 8, 8, 145, 13, "Velmora VT-1, VT-2, VX-3,", nullptr, kBlack, kFlat},
    {ID_Packets_Label3, Kind::Label, ID_Packets_Panel2, 8, 24, 58, 13, "Nordwin N-12, etc.", nullptr, kBlack, kFlat},
    {ID_Packets_Label5, Kind::Label, ID_Packets_Panel2, 8, 56, 152, 13, "Velmora VTR-4, Nordwin NT-9, etc.", nullptr, kSystemColour, kFlat},
};

// System Tray Icons
const ControlRow kIconsControls[] = {
    // id, kind, parent, left, top, width, height, text, hint, colour, look
    {ID_Icons_Panel1, Kind::Panel, kNoParent, 8, 8, 273, 129, "", nullptr, kSystemColour, kLoweredOuter},
    {ID_Icons_Image1, Kind::Icon, ID_Icons_Panel1, 8, 8, 33, 33, "CAWHITESM", nullptr, kSystemColour, kFlat},
    {ID_Icons_Label1, Kind::Label, ID_Icons_Panel1, 56, 16, 177, 13, "Sleeping: last update was successful.", nullptr, kSystemColour, kFlat},
    {ID_Icons_Image2, Kind::Icon, ID_Icons_Panel1, 8, 48, 33, 33, "CABLUESM", nullptr, kSystemColour, kFlat},
    {ID_Icons_Label2, Kind::Label, ID_Icons_Panel1, 56, 56, 116, 13, "Time update in progress.", nullptr, kSystemColour, kFlat},
    {ID_Icons_Image3, Kind::Icon, ID_Icons_Panel1, 8, 88, 33, 33, "CAYELLOWSM", nullptr, kSystemColour, kFlat},
    {ID_Icons_Label3, Kind::Label, ID_Icons_Panel1, 56, 96, 189, 13, "Sleeping: last update was unsuccessful.", nullptr, kSystemColour, kFlat},
};

// Possible Errors
const ControlRow kErrorsControls[] = {
    // id, kind, parent, left, top, width, height, text, hint, colour, look
    {ID_Errors_Panel1, Kind::Panel, kNoParent, 8, 8, 129, 433, "", nullptr, kGrey, kFlat},
    {ID_Errors_Panel2, Kind::Panel, kNoParent, 137, 8, 292, 433, "", nullptr, kSystemColour, kWindowColour},
    {ID_Errors_Label1, Kind::Label, ID_Errors_Panel1, 61, 8, 61, 13, "COM Failure:", nullptr, kWhite, kRightAligned},
    {ID_Errors_Label4, Kind::Label, ID_Errors_Panel1, 61, 72, 61, 13, "DARO Failure:", nullptr, kWhite, kRightAligned},
    {ID_Errors_Label11, Kind::Label, ID_Errors_Panel1, 13, 248, 109, 13, "System Update Failure:", nullptr, kWhite, kRightAligned},
    {ID_Errors_Label15, Kind::Label, ID_Errors_Panel1, 74, 296, 48, 13, "Bad Time:", nullptr, kWhite, kRightAligned},
    {ID_Errors_Label2, Kind::Label, ID_Errors_Panel2, 8, 9, 124, 13, "Unable to open serial port.", nullptr, kBlack, kFlat},
    {ID_Errors_Shape2, Kind::Bullet, ID_Errors_Panel2, 8, 29, 5, 5, "", nullptr, kBlack, kFlat},
    {ID_Errors_Label3, Kind::Label, ID_Errors_Panel2, 16, 25, 181, 13, "Make sure the port isn't already in use.", nullptr, kBlack, kFlat},
    {ID_Errors_Shape6, Kind::Bullet, ID_Errors_Panel2, 8, 45, 5, 5, "", nullptr, kBlack, kFlat},
    {ID_Errors_Label18, Kind::Label, ID_Errors_Panel2, 16, 41, 121, 13, "Make sure the port exists.", nullptr, kBlack, kFlat},
    {ID_Errors_Label5, Kind::Label, ID_Errors_Panel2, 8, 73, 252, 13, "The receiver did not return any of the supported DARO", nullptr, kBlack, kFlat},
    {ID_Errors_Label6, Kind::Label, ID_Errors_Panel2, 8, 89, 167, 13, "timing packets within five seconds. ", nullptr, kBlack, kFlat},
    {ID_Errors_Shape1, Kind::Bullet, ID_Errors_Panel2, 8, 109, 5, 5, "", nullptr, kBlack, kFlat},
    {ID_Errors_Label7, Kind::Label, ID_Errors_Panel2, 16, 105, 212, 13, "Make sure the serial port settings are correct.", nullptr, kBlack, kFlat},
    {ID_Errors_Shape3, Kind::Bullet, ID_Errors_Panel2, 8, 125, 5, 5, "", nullptr, kBlack, kFlat},
    {ID_Errors_Label9, Kind::Label, ID_Errors_Panel2, 16, 121, 255, 13, "Make sure the receiver is capable of outputting one of", nullptr, kBlack, kFlat},
    {ID_Errors_Label10, Kind::Label, ID_Errors_Panel2, 16, 137, 166, 13, "the supported DARO timing packets.", nullptr, kBlack, kFlat},
    {ID_Errors_Shape7, Kind::Bullet, ID_Errors_Panel2, 8, 157, 5, 5, "", nullptr, kBlack, kFlat},
    {ID_Errors_Label19, Kind::Label, ID_Errors_Panel2, 16, 153, 257, 13, "Make sure the receiver is attached to the correct serial", nullptr, kBlack, kFlat},
    {ID_Errors_Label20, Kind::Label, ID_Errors_Panel2, 16, 169, 21, 13, "port.", nullptr, kBlack, kFlat},
    {ID_Errors_Shape8, Kind::Bullet, ID_Errors_Panel2, 8, 189, 5, 5, "", nullptr, kBlack, kFlat},
    {ID_Errors_Label21, Kind::Label, ID_Errors_Panel2, 16, 185, 170, 13, "Make sure the receiver is turned on.", nullptr, kBlack, kFlat},
    {ID_Errors_Shape12, Kind::Bullet, ID_Errors_Panel2, 8, 205, 5, 5, "", nullptr, kBlack, kFlat},
    {ID_Errors_Label28, Kind::Label, ID_Errors_Panel2, 16, 201, 250, 13, "With NMEA: no sentence with a time and a valid", nullptr, kBlack, kFlat},
    {ID_Errors_Label29, Kind::Label, ID_Errors_Panel2, 16, 217, 245, 13, "checksum came. Most speak 4800 or 9600 baud, 8-N-1.", nullptr, kBlack, kFlat},
    {ID_Errors_Label12, Kind::Label, ID_Errors_Panel2, 8, 249, 258, 13, "The PC returned a failure on the attempt to update  the", nullptr, kBlack, kFlat},
    {ID_Errors_Label13, Kind::Label, ID_Errors_Panel2, 8, 265, 64, 13, "system clock.", nullptr, kBlack, kFlat},
    {ID_Errors_Label16, Kind::Label, ID_Errors_Panel2, 8, 297, 160, 13, "The receiver returned a time <= 0.", nullptr, kBlack, kFlat},
    {ID_Errors_Shape5, Kind::Bullet, ID_Errors_Panel2, 8, 317, 5, 5, "", nullptr, kBlack, kFlat},
    {ID_Errors_Label17, Kind::Label, ID_Errors_Panel2, 16, 313, 195, 13, "Wait until your receiver obtains GPS time.", nullptr, kBlack, kFlat},
    {ID_Errors_Shape9, Kind::Bullet, ID_Errors_Panel2, 8, 333, 5, 5, "", nullptr, kBlack, kFlat},
    {ID_Errors_Label22, Kind::Label, ID_Errors_Panel2, 16, 329, 240, 13, "The receiver says its time is not yet set, or was", nullptr, kBlack, kFlat},
    {ID_Errors_Label23, Kind::Label, ID_Errors_Panel2, 16, 345, 150, 13, "entered by hand (a test mode).", nullptr, kBlack, kFlat},
    {ID_Errors_Shape10, Kind::Bullet, ID_Errors_Panel2, 8, 365, 5, 5, "", nullptr, kBlack, kFlat},
    {ID_Errors_Label24, Kind::Label, ID_Errors_Panel2, 16, 361, 245, 13, "The receiver does not yet know the GPS-UTC offset:", nullptr, kBlack, kFlat},
    {ID_Errors_Label25, Kind::Label, ID_Errors_Panel2, 16, 377, 235, 13, "wait until it has read it (up to 13 minutes).", nullptr, kBlack, kFlat},
    {ID_Errors_Shape11, Kind::Bullet, ID_Errors_Panel2, 8, 397, 5, 5, "", nullptr, kBlack, kFlat},
    {ID_Errors_Label26, Kind::Label, ID_Errors_Panel2, 16, 393, 250, 13, "A correction of 0.5 s or more was not confirmed by a", nullptr, kBlack, kFlat},
    {ID_Errors_Label27, Kind::Label, ID_Errors_Panel2, 16, 409, 250, 13, "second packet, or exceeded the MaxCorrection limit.", nullptr, kBlack, kFlat},
};

template <int N>
constexpr int Count(const ControlRow (&)[N]) {
  return N;
}

}  // namespace

const WindowLayout kMainLayout{kMainCaption, 393, 343, 10, kMainControls, Count(kMainControls)};
const WindowLayout kAboutLayout{"About ClockAgent", 303, 169, 10, kAboutControls, Count(kAboutControls)};
const WindowLayout kPacketsLayout{"Supported DARO Packets", 263, 103, 11, kPacketsControls, Count(kPacketsControls)};
const WindowLayout kIconsLayout{"System Tray Icons", 287, 144, 11, kIconsControls, Count(kIconsControls)};
const WindowLayout kErrorsLayout{"Possible Errors", 436, 449, 11, kErrorsControls, Count(kErrorsControls)};

const MenuRow kMainMenu[] = {
    {-1, "&Control", true},  // ControlMenu
    {ID_Control_Start, "&Start", true},
    {ID_Control_Stop, "Sto&p", false},
    {ID_Control_Refresh, "&Refresh Time", true},
    {ID_Control_Find, "&Find Receiver", true},
    {ID_Control_Close, "&Close", true},
    {0, "-", true},  // N2
    {ID_Control_Exit, "E&xit", true},
    {-1, "&Help", true},  // HelpMenu
    {ID_HelpPkts, "&Supported Pkts...", true},
    {ID_HelpIcons, "System Tray &Icons...", true},
    {ID_HelpErrors, "&Errors...", true},
    {0, "-", true},  // N1
    {ID_HelpAbout, "&About...", true},
};
const int kMainMenuCount = sizeof kMainMenu / sizeof kMainMenu[0];

const MenuRow kTrayMenu[] = {
    {ID_SystemTray_Restore, "&Restore", true},
    {ID_SystemTray_Refresh, "Refresh &Time", true},
    {ID_SystemTray_About, "&About", true},
    {ID_SystemTray_Close, "&Close", false},
    {0, "-", true},  // N3
    {ID_SystemTray_Exit, "E&xit", true},
};
const int kTrayMenuCount = sizeof kTrayMenu / sizeof kTrayMenu[0];

// The line settings' lists as the window shows them, each entry where its value stands in
// kBaudRates, kDataBits, kParities and kStopBits.
const char* const kBaudRateTexts[] = {"2400", "4800", "9600", "19200", "38400"};
const char* const kDataBitsTexts[] = {"7", "8"};
const char* const kParityTexts[] = {"NONE", "ODD", "EVEN"};
const char* const kStopBitsTexts[] = {"1", "2"};
static_assert(std::size(kBaudRateTexts) == std::size(kBaudRates) &&
                  std::size(kDataBitsTexts) == std::size(kDataBits) &&
                  std::size(kParityTexts) == std::size(kParities) &&
                  std::size(kStopBitsTexts) == std::size(kStopBits),
              "a text for each entry");

std::vector<std::string> DropDownItems(int id) {
  std::vector<std::string> items;
  if (id == ID_ComboBox_COM) {
    for (int port = 1; port <= kPortCount; ++port) items.push_back("COM " + std::to_string(port));
  }
  if (id == ID_ComboBox_Pulse) {
    for (PulseLine line : {PulseLine::None, PulseLine::Dcd, PulseLine::Cts}) {
      items.push_back(PulseLineName(line));
    }
  }
  if (id == ID_ComboBox_Protocol) items = {"DARO", "NMEA"};  // in the order of ReceiverProtocol
  const struct {
    int id;
    const char* const* texts;
  } lists[] = {{ID_ComboBox_BaudRate, kBaudRateTexts},
               {ID_ComboBox_DataBits, kDataBitsTexts},
               {ID_ComboBox_Parity, kParityTexts},
               {ID_ComboBox_StopBits, kStopBitsTexts}};  // in the order of kLineLists
  for (std::size_t i = 0; i < std::size(lists); ++i) {
    if (id != lists[i].id) continue;
    for (int entry = 0; entry < kLineLists[i].count; ++entry) {
      items.emplace_back(lists[i].texts[entry]);
    }
  }
  return items;
}

}  // namespace clockagent::ui
