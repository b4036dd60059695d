// The four information windows: About, supported packets, tray icons, possible errors. Each is
// created once, hidden, and only shown and hidden afterwards.
#pragma once

#include <windows.h>

#include "ui/layout.h"
#include "ui/widgets.h"

namespace clockagent::ui {

constexpr char kInfoWindowClass[] = "ClockAgentInfo";

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
    Controls controls;
    HWND focus = nullptr;  // the control that had the focus when the window was last active
  };
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static void Build(HINSTANCE instance, HWND owner, const WindowLayout& layout, Window& window);
  void Show(Window& window);
  Window about_, packets_, icons_, errors_;
};

}  // namespace clockagent::ui
