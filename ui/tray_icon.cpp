// The main window's icon in the notification area: one of three icons by the state of the
// updates, with a tip telling the last outcome, and the pop-up menu it opens.
#include "ui/main_window.h"

#include <shellapi.h>

namespace clockagent::ui {
namespace {

// The first form of the notification-area record: the size field and a 64-byte tip. (In a
// 64-bit process that first form is 104 bytes long, its handles being wider.)
static_assert(NOTIFYICONDATAA_V1_SIZE == (sizeof(void*) == 4 ? 88 : 104), "first record form");

}  // namespace

void TForm_Main::LoadTrayIcons() {
  trayIcons_[0] = LoadIconResource(instance_, "CAWHITESM");
  trayIcons_[1] = LoadIconResource(instance_, "CABLUESM");
  trayIcons_[2] = LoadIconResource(instance_, "CAYELLOWSM");
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

}  // namespace clockagent::ui
