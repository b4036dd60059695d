// The four information windows, laid out from their tables as the main window is.
#include "ui/info_windows.h"

#include <cstdio>

#include "version.h"

namespace clockagent::ui {

LRESULT CALLBACK InfoWindows::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_CLOSE:  // closing hides; the window lives as long as the program
      ShowWindow(window, SW_HIDE);
      return 0;
    case WM_COMMAND:
      // Button_OKClick, or Enter in a window that has the OK button: a close request. Esc (IDCANCEL)
      // does nothing.
      if (self != nullptr && (LOWORD(wParam) == ID_Button_OK ||
                              (LOWORD(wParam) == IDOK && self->controls[ID_Button_OK] != nullptr))) {
        PostMessageA(window, WM_CLOSE, 0, 0);
      }
      return 0;
    case WM_ACTIVATE:
      if (self != nullptr && KeepFocus(window, wParam, &self->focus)) return 0;
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void InfoWindows::Build(HINSTANCE instance, HWND owner, const WindowLayout& layout,
                        Window& window) {
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  RECT frame{0, 0, Scaled(layout.width), Scaled(layout.height)};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
  window.hwnd = CreateWindowExA(WS_EX_CONTROLPARENT, kInfoWindowClass, layout.caption, style,
                                CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                frame.bottom - frame.top, owner, nullptr, instance, nullptr);
  SetWindowLongPtrA(window.hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window));
  window.controls.Build(instance, window.hwnd, layout);
  // The OK button of the About window is the only control that takes the keyboard focus.
  window.focus = window.controls[ID_Button_OK];
}

void InfoWindows::Create(HINSTANCE instance, HWND application, HICON icon) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kInfoWindowClass;
  RegisterClassA(&wc);

  Build(instance, application, kAboutLayout, about_);
  Build(instance, application, kPacketsLayout, packets_);
  Build(instance, application, kIconsLayout, icons_);
  Build(instance, application, kErrorsLayout, errors_);
  char version[32];
  std::snprintf(version, sizeof version, kVersionFormat, kVersionText);
  SetWindowTextA(about_.controls[ID_Label_Version], version);
}

void InfoWindows::Show(Window& window) {
  if (window.hwnd == nullptr) return;
  if (!window.shownBefore) {
    window.shownBefore = true;
    CentreOnScreen(window.hwnd);
  }
  ShowWindow(window.hwnd, SW_SHOW);
  SetForegroundWindow(window.hwnd);
  BringWindowToTop(window.hwnd);
}

}  // namespace clockagent::ui
