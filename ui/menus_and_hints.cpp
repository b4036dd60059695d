// The main window's menus and hints: the menu bar and the icon's pop-up menu from their rows, the
// speed buttons' tips, and the hint bar that follows the pointer.
#include "ui/main_window.h"

#include <commctrl.h>

namespace clockagent::ui {

void TForm_Main::CreateMenus() {
  menuBar_ = CreateMenu();
  HMENU current = nullptr;
  for (int i = 0; i < kMainMenuCount; ++i) {
    const MenuRow& m = kMainMenu[i];
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
    const MenuRow& m = kTrayMenu[i];
    if (m.id == 0) {
      AppendMenuA(trayMenu_, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuA(trayMenu_, MF_STRING | (m.enabled ? MF_ENABLED : MF_GRAYED),
                  static_cast<UINT_PTR>(m.id), m.caption);
    }
  }
}

void TForm_Main::SetMenuEnabled(int id, bool enabled) {
  EnableMenuItem(menuBar_, static_cast<UINT>(id), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void TForm_Main::CreateTips() {
  tips_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                          nullptr, instance_, nullptr);
  SendMessageA(tips_, TTM_SETDELAYTIME, TTDT_INITIAL, 500);
  SendMessageA(tips_, TTM_SETDELAYTIME, TTDT_AUTOPOP, 5000);
  for (int id : {ID_SpeedButton_Start, ID_SpeedButton_Stop, ID_SpeedButton_Refresh,
                 ID_SpeedButton_Find}) {
    const ControlRow* row = RowOf(Item(id));
    // One tool on the button, and one on the tool bar over the same place, which is what
    // receives the mouse while the button is disabled.
    TOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(Item(id));
    tool.lpszText = const_cast<char*>(row->hint);
    SendMessageA(tips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    TOOLINFOA area{};
    area.cbSize = sizeof area;
    area.uFlags = TTF_SUBCLASS;
    area.hwnd = Item(ID_Panel2);
    area.uId = static_cast<UINT_PTR>(id);
    GetWindowRect(Item(id), &area.rect);
    MapWindowPoints(nullptr, area.hwnd, reinterpret_cast<POINT*>(&area.rect), 2);
    area.lpszText = const_cast<char*>(row->hint);
    SendMessageA(tips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&area));
  }
}

void TForm_Main::ShowHint(const char* hint) {
  if (hint_ == hint) return;
  hint_ = hint;
  SetWindowTextA(Item(ID_Panel_Hint), hint);
}

void TForm_Main::ShowNotice(const char* notice) {
  notice_ = notice;
  findSays_ = false;
  ShowHint(notice);
}

void TForm_Main::ShowReason(const std::string& reason) {
  // A refusal stays in the hint bar until an attempt that is not refused takes it away; other
  // notices are left as they are. The service's state says the same reason again and again.
  if (reason == reasonShown_) return;
  if (!reason.empty()) {
    ShowNotice(reason.c_str());
  } else if (notice_ == reasonShown_) {
    ShowNotice("");
  }
  reasonShown_ = reason;
}

void TForm_Main::ShowDiscipline(bool disciplined, double ratePpm, const char* note) {
  // Why it stopped comes first; otherwise the rate in force, unless a reason is shown.
  if (*note != '\0') {
    ShowNotice(note);
  } else if (disciplined && reasonShown_.empty()) {
    const std::string rate = "Clock held by its " + RateText(ratePpm);
    ShowNotice(rate.c_str());
  }
}

void TForm_Main::UpdateHint() {
  if (menuActive_) return;
  POINT p;
  GetCursorPos(&p);
  HWND top = WindowFromPoint(p);
  top = top != nullptr ? RootOf(top) : nullptr;
  if (top != hwnd_) {  // the pointer is over no control of the main window
    ShowHint(notice_.c_str());
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
    const ControlRow* row = RowOf(at);
    if (row != nullptr && row->hint != nullptr) {
      // The pointer stays on Find Receiver after the click: what the search says shows there.
      ShowHint(row->id == ID_SpeedButton_Find && findSays_ ? notice_.c_str() : row->hint);
      return;
    }
  }
  ShowHint(notice_.c_str());
}

}  // namespace clockagent::ui
