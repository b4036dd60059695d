// The four information windows.
#include "ui/info_windows.h"

namespace clockagent::ui {
namespace {

constexpr char kInfoClass[] = "ClockAgentInfo";

LRESULT CALLBACK InfoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {  // closing hides; the window lives as long as the program
    ShowWindow(window, SW_HIDE);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateInfoWindow(HINSTANCE instance, HWND owner, const char* caption, int width, int height) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  RECT frame{0, 0, MulDiv(width, dpi, 96), MulDiv(height, dpi, 96)};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  return CreateWindowExA(0, kInfoClass, caption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                         frame.right - frame.left, frame.bottom - frame.top, owner, nullptr,
                         instance, nullptr);
}

}  // namespace

void InfoWindows::Create(HINSTANCE instance, HWND application, HICON icon) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = InfoProc;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kInfoClass;
  RegisterClassA(&wc);
  about_.hwnd = CreateInfoWindow(instance, application, "About ClockAgent", 303, 169);
  packets_.hwnd = CreateInfoWindow(instance, application, "Supported DARO Packets", 263, 103);
  icons_.hwnd = CreateInfoWindow(instance, application, "System Tray Icons", 287, 144);
  errors_.hwnd = CreateInfoWindow(instance, application, "Possible Errors", 436, 321);
}

void InfoWindows::Show(Window& window) {
  if (window.hwnd == nullptr) return;
  if (!window.shownBefore) {
    window.shownBefore = true;
    RECT r;
    GetWindowRect(window.hwnd, &r);
    const int left = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
    SetWindowPos(window.hwnd, nullptr, left > 0 ? left : 0, top > 0 ? top : 0, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
  }
  ShowWindow(window.hwnd, SW_SHOW);
  SetForegroundWindow(window.hwnd);
  BringWindowToTop(window.hwnd);
}

}  // namespace clockagent::ui
