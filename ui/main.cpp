// ClockAgent.exe: program entry, the application's own window, and the message loop.
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>

#include "ui/info_windows.h"
#include "ui/layout.h"
#include "ui/main_window.h"
#include "version.h"

namespace {

constexpr char kApplicationClass[] = "TApplication";
constexpr char kSingleInstanceMutex[] = "Local\\" CLOCKAGENT_COMPANY "." CLOCKAGENT_PRODUCT;

// The main window, for the application's own window to pass its requests on to.
HWND MainOf(HWND application) {
  return reinterpret_cast<HWND>(GetWindowLongPtrA(application, GWLP_USERDATA));
}

LRESULT CALLBACK ApplicationProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    // From the taskbar entry: a close request to the main window, which hides the program as
    // closing the window does. Only Exit ends it.
    if (HWND main = MainOf(window)) SendMessageA(main, WM_CLOSE, 0, 0);
    return 0;
  }
  if (message == WM_SIZE && wParam == SIZE_RESTORED && IsWindowVisible(window)) {
    // Restored from the taskbar: the main window comes back with it.
    if (HWND main = MainOf(window)) PostMessageA(main, clockagent::ui::WM_APPLICATION_RESTORED, 0, 0);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// A second start asks the running program to bring its window to the front. Windows lets only
// the process that holds the foreground right take the foreground, and a process that the user
// has just started holds it: it hands the right to the running one first.
void BringRunningInstanceForward() {
  HWND running = FindWindowA(clockagent::ui::kMainWindowClass, nullptr);
  if (running == nullptr) return;
  DWORD process = 0;
  GetWindowThreadProcessId(running, &process);
  AllowSetForegroundWindow(process);
  PostMessageA(running, clockagent::ui::WM_RESTORE_REQUEST, 0, 0);
}

// The window that carries the taskbar entry: hidden, and shown only while the application is
// minimised. It owns the main window, which so has no taskbar button of its own.
HWND CreateApplicationWindow(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = ApplicationProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(LoadImageA(instance, "CAWHITESM", IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
  wc.lpszClassName = kApplicationClass;
  RegisterClassA(&wc);
  return CreateWindowExA(0, kApplicationClass, clockagent::ui::kApplicationTitle,
                         WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, nullptr,
                         nullptr, instance, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace clockagent::ui;

  // A second start does not add a second icon or compete for the port: it brings the running
  // program's main window to the front.
  HANDLE single = CreateMutexA(nullptr, FALSE, kSingleInstanceMutex);
  if (single != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    BringRunningInstanceForward();
    CloseHandle(single);
    return 0;
  }

  try {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    HWND application = CreateApplicationWindow(instance);

    InfoWindows info;
    auto main = std::make_unique<TForm_Main>(instance, application, info);
    SetWindowLongPtrA(application, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(main->handle()));
    info.Create(instance, application, static_cast<HICON>(LoadImageA(instance, "CAWHITESM", IMAGE_ICON, 0, 0,
                                                        LR_DEFAULTCOLOR)));
    ShowWindow(application, SW_HIDE);

    MSG msg;
    std::chrono::steady_clock::time_point nextRead{};  // inside a packet: the next read
    for (;;) {
      while (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        main->UpdateHint();
        // The port is waited on as PortWaitFor says, beside the messages: while an attempt waits
        // for its packet, its bytes are read the moment they arrive, not at the next poll.
        std::intptr_t arrival = -1;
        const clockagent::PortWait portWait = main->PortWaitNow(&arrival);
        if (portWait != clockagent::PortWait::TimersOnly) {
          // Read every kLookInterval by the clock, not by a quiet spell (messages may come faster
          // than that), and at once when the port signals bytes.
          const auto now = std::chrono::steady_clock::now();
          if (now >= nextRead) {
            main->BytesArrived();
            nextRead = now + clockagent::kLookInterval;
            continue;
          }
          const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextRead - now);
          HANDLE port = reinterpret_cast<HANDLE>(arrival);
          const DWORD handles = portWait == clockagent::PortWait::Arrival ? 1 : 0;
          if (MsgWaitForMultipleObjectsEx(handles, &port, static_cast<DWORD>(wait.count()),
                                          QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0 &&
              handles == 1) {
            main->BytesArrived();
            nextRead = std::chrono::steady_clock::now() + clockagent::kLookInterval;
          }
        } else {
          WaitMessage();
        }
      }
      if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
      // Tab, Enter and Esc work in whichever of the program's windows is active.
      HWND active = GetActiveWindow();
      if (active == nullptr) active = main->handle();
      if (!IsDialogMessageA(active, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    main->SetTerminating();
    SetWindowLongPtrA(application, GWLP_USERDATA, 0);
    main.reset();
    DestroyWindow(application);
  } catch (const std::exception& error) {
    MessageBoxA(nullptr, error.what(), kApplicationTitle, MB_OK | MB_ICONERROR);
  }
  if (single != nullptr) CloseHandle(single);
  return 0;
}
