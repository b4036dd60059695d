// The four information windows: About, supported packets, tray icons, possible errors. Each is
// created once, hidden, and only shown and hidden afterwards.
#pragma once

#include <windows.h>

namespace clockagent::ui {

// Identifiers of the information windows' controls, for the tests that read them.
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
};

constexpr char kInfoWindowClass[] = "ClockAgentInfo";
constexpr char kVersionFormat[] = "Version %s";

class InfoWindows {
 public:
  // Creates the four windows hidden, in the order About, Packets, Icons, Errors, owned by the
  // application's own window (so none has a taskbar button).
  void Create(HINSTANCE instance, HWND application, HICON icon);
  // Makes one visible, modeless, in front; centred on the screen the first time only.
  void ShowAbout() { Show(about_); }
  void ShowPackets() { Show(packets_); }
  void ShowIcons() { Show(icons_); }
  void ShowErrors() { Show(errors_); }

 private:
  struct Window {
    HWND hwnd = nullptr;
    bool shownBefore = false;
  };
  void Show(Window& window);
  Window about_, packets_, icons_, errors_;
};

}  // namespace clockagent::ui
