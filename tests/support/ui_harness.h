// The harness that starts ClockAgent.exe under wine and drives and reads it as a user would.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "record/record_folder_win32.h"
#include "settings/settings_store.h"
#include "tests/support/wine.h"
#include "ui/layout.h"
#include "ui/main_window.h"
#include "ui/widgets.h"

namespace clockagent::test {

using namespace clockagent::ui;

inline std::string ProgramPath() { return BuildFile("ClockAgent.exe"); }

// Starts ClockAgent.exe; with `relay`, wine's relay channel writes the program's calls of the
// functions named in RelayInclude, with their arguments, to the harness's standard error file.
inline bool StartProgram(PROCESS_INFORMATION* process, bool relay = false) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string command = "\"" + ProgramPath() + "\"";
  std::string environment;
  if (relay) {
    char* strings = GetEnvironmentStringsA();
    for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
      if (_strnicmp(entry, "WINEDEBUG=", 10) != 0) environment.append(entry).push_back('\0');
    }
    FreeEnvironmentStringsA(strings);
    environment.append("WINEDEBUG=+relay").push_back('\0');
  }
  return CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0,
                        relay ? &environment[0] : nullptr, nullptr, &startup, process) != FALSE;
}

inline std::string TextOf(HWND window) {
  char text[256] = {};
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 2000, nullptr);
  return text;
}

inline std::string Stored(const char* name) {
  const std::string value = StoredSetting(name);
  return value.rfind("REG_SZ:", 0) == 0 ? value.substr(7) : value;
}

inline void Store(const char* name, const char* text) { ASSERT_TRUE(PutSettingText(name, text)) << name; }

// Saves what the screen shows of a window's client area as a BMP in the harness's screenshot folder.
inline void Screenshot(HWND window, const char* name) {
  const char* folder = std::getenv("CLOCKAGENT_SCREENSHOTS");
  if (folder == nullptr) return;
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(700);  // the program paints in its own time
  // The client area: without a window manager nobody draws the frames.
  RECT r;
  GetClientRect(window, &r);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(height);
  const std::string path = std::string(folder) + "\\" + name + ".bmp";
  HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(out, &file, sizeof file, &written, nullptr);
  WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr);
  WriteFile(out, bits, stride * static_cast<DWORD>(height), &written, nullptr);
  CloseHandle(out);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

// The control of a window with this identifier, at any depth.
inline HWND ChildById(HWND window, int id) {
  struct Search {
    int id;
    HWND found;
  } search{id, nullptr};
  EnumChildWindows(
      window,
      [](HWND child, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        if (GetDlgCtrlID(child) != s->id) return TRUE;
        s->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The controls of a window of this class, at any depth.
inline int ChildrenOfClass(HWND window, const char* windowClass) {
  struct Count {
    const char* windowClass;
    int count;
  } count{windowClass, 0};
  EnumChildWindows(
      window,
      [](HWND child, LPARAM data) -> BOOL {
        auto* c = reinterpret_cast<Count*>(data);
        char name[64] = {};
        GetClassNameA(child, name, sizeof name);
        if (lstrcmpiA(name, c->windowClass) == 0) ++c->count;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count.count;
}

// Near-black pixels that the screen shows of a window between two heights (fractions of its
// height): text drawn enabled is black, disabled text grey.
inline int DarkPixels(HWND window, double from, double to) {
  RECT r;
  GetWindowRect(window, &r);
  HDC screen = GetDC(nullptr);
  int dark = 0;
  const int height = r.bottom - r.top;
  for (int y = r.top + static_cast<int>(height * from); y < r.top + static_cast<int>(height * to); ++y) {
    for (int x = r.left; x < r.right; ++x) {
      const COLORREF c = GetPixel(screen, x, y);
      if (GetRValue(c) < 64 && GetGValue(c) < 64 && GetBValue(c) < 64) ++dark;
    }
  }
  ReleaseDC(nullptr, screen);
  return dark;
}

// Pixels of one colour in the notification area, as wine shows it without a desktop: a tray window
// of its own.
inline int TrayPixels(COLORREF colour) {
  HWND tray = FindWindowA("__winex11_standalone_tray", nullptr);
  if (tray == nullptr) return -1;
  RECT r;
  GetWindowRect(tray, &r);
  HDC screen = GetDC(nullptr);
  int count = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right && x < r.left + 400; ++x) {
      if (GetPixel(screen, x, y) == colour) ++count;
    }
  }
  ReleaseDC(nullptr, screen);
  return count;
}
// The tips of the notification-area icons, as the tray's tooltip windows hold them: those live in
// the process that shows the tray, so each tip is copied out through that process's memory.
inline std::vector<std::string> TrayTips() {
  std::vector<std::string> tips;
  HWND tray = FindWindowA("__winex11_standalone_tray", nullptr);
  DWORD trayProcess = 0;
  if (tray == nullptr || GetWindowThreadProcessId(tray, &trayProcess) == 0) return tips;
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                               trayProcess);
  if (process == nullptr) return tips;
  constexpr std::size_t kTextAt = 256;
  auto* remote = static_cast<char*>(
      VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  std::vector<HWND> tooltips;
  EnumWindows(
      [](HWND w, LPARAM list) {
        char name[32];
        GetClassNameA(w, name, sizeof name);
        if (lstrcmpiA(name, TOOLTIPS_CLASSA) == 0) {
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&tooltips));
  for (HWND tooltip : tooltips) {
    DWORD owner = 0;
    if (remote == nullptr || GetWindowThreadProcessId(tooltip, &owner) == 0 ||
        owner != trayProcess) {
      continue;
    }
    const auto count = SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      TTTOOLINFOW info{};
      info.cbSize = sizeof info;
      info.lpszText = reinterpret_cast<wchar_t*>(remote + kTextAt);
      const wchar_t none = 0;
      if (!WriteProcessMemory(process, remote, &info, sizeof info, nullptr) ||
          !WriteProcessMemory(process, remote + kTextAt, &none, sizeof none, nullptr) ||
          !SendMessageW(tooltip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i),
                        reinterpret_cast<LPARAM>(remote))) {
        continue;
      }
      wchar_t text[128] = {};
      if (!ReadProcessMemory(process, remote + kTextAt, text, sizeof text - sizeof(wchar_t),
                             nullptr)) {
        continue;
      }
      char narrow[256] = {};
      WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
      tips.push_back(narrow);
    }
  }
  if (remote != nullptr) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return tips;
}

inline COLORREF ScreenPixel(int x, int y) {
  HDC screen = GetDC(nullptr);
  const COLORREF colour = GetPixel(screen, x, y);
  ReleaseDC(nullptr, screen);
  return colour;
}

// The first and last screen columns of an area in which anything differs from its most frequent
// colour (the background): where a label's text shows, down to the faintest edge of a glyph.
struct Ink {
  int left = -1;
  int right = -1;
};
inline Ink InkIn(const RECT& area) {
  HDC screen = GetDC(nullptr);
  std::vector<COLORREF> pixels;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) pixels.push_back(GetPixel(screen, x, y));
  }
  ReleaseDC(nullptr, screen);
  std::vector<COLORREF> sorted = pixels;
  std::sort(sorted.begin(), sorted.end());
  COLORREF background = sorted.front();
  std::size_t longest = 0;
  for (std::size_t i = 0, j = 0; i < sorted.size(); i = j) {
    while (j < sorted.size() && sorted[j] == sorted[i]) ++j;
    if (j - i > longest) longest = j - i, background = sorted[i];
  }
  Ink ink;
  const int width = area.right - area.left;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    if (pixels[i] == background) continue;
    const int x = area.left + static_cast<int>(i % static_cast<std::size_t>(width));
    if (ink.left < 0 || x < ink.left) ink.left = x;
    if (x > ink.right) ink.right = x;
  }
  return ink;
}

// The size of a line of text in a layout's font, as the program measures it.
inline SIZE TextExtent(unsigned look, int fontHeight, const std::string& text) {
  HFONT font = CreateLayoutFont(look, fontHeight);
  HDC screen = GetDC(nullptr);
  HGDIOBJ old = SelectObject(screen, font);
  SIZE size{};
  GetTextExtentPoint32A(screen, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  DeleteObject(font);
  return size;
}

inline RECT ScreenRect(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  return r;
}

constexpr COLORREF kDialBlue = RGB(0, 255, 255);
constexpr COLORREF kDialYellow = RGB(255, 255, 0);
constexpr COLORREF kRim = RGB(255, 0, 0);

class ClockAgentProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UnderWine()) << "never run this on Windows itself: it rewrites the program's key";
    ASSERT_NE(std::getenv("CLOCKAGENT_WINE_HARNESS"), nullptr);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
    DeleteFileA(RecordPath().c_str());
  }
  void TearDown() override {
    if (process_.hProcess != nullptr) {
      if (main_ != nullptr) PostMessageA(main_, WM_COMMAND, ID_Control_Exit, 0);
      if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 1);
      }
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
  }

  void Launch(bool relay = false) {
    ASSERT_TRUE(StartProgram(&process_, relay)) << ProgramPath();
    // The information windows are created right after the main window's constructor has run.
    ASSERT_TRUE(WaitFor([] { return FindWindowA(nullptr, "Possible Errors") != nullptr; }, 10000));
    main_ = FindWindowA(kMainWindowClass, nullptr);
    ASSERT_NE(main_, nullptr);
    WaitForInputIdle(process_.hProcess, 5000);
  }

  HWND Control(int id) const { return ChildById(main_, id); }
  std::string Text(int id) const { return TextOf(Control(id)); }
  bool WaitText(int id, const std::string& text, int milliseconds = 3000) const {
    return WaitFor([&] { return Text(id) == text; }, milliseconds);
  }
  void Command(int id) { PostMessageA(main_, WM_COMMAND, static_cast<WPARAM>(id), 0); }
  void Select(int id, int index) {
    SendMessageA(Control(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  int Selected(int id) const { return static_cast<int>(SendMessageA(Control(id), CB_GETCURSEL, 0, 0)); }
  bool Checked(int id) const { return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
  void Tray(UINT mouseEvent) { PostMessageA(main_, kTrayCallbackMessage, 1005, mouseEvent); }

  // The text of the program's message box once it shows, then closed with OK.
  std::string MessageBoxText(int milliseconds = 3000) {
    HWND box = nullptr;
    WaitFor([&] { return (box = Shown("#32770")) != nullptr; }, milliseconds);
    if (box == nullptr) return "no message box";
    const std::string text = TextOf(box) + ": " + TextOf(GetDlgItem(box, 0xFFFF));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return text;
  }

  // The program's visible top-level window of a class (a message box, a tip, an opened list).
  HWND Shown(const char* windowClass) const {
    struct Search {
      const char* windowClass;
      HWND found;
    } search{windowClass, nullptr};
    EnumThreadWindows(
        process_.dwThreadId,
        [](HWND w, LPARAM data) -> BOOL {
          auto* s = reinterpret_cast<Search*>(data);
          char cls[64] = {};
          GetClassNameA(w, cls, sizeof cls);
          if (lstrcmpiA(cls, s->windowClass) != 0 || !IsWindowVisible(w)) return TRUE;
          s->found = w;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  int FocusId() const {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(process_.dwThreadId, &gui);
    return gui.hwndFocus != nullptr ? GetDlgCtrlID(gui.hwndFocus) : 0;
  }

  // Shows the main window in front, as a double-click on the icon does.
  void ShowMain() {
    Tray(WM_LBUTTONDBLCLK);
    ASSERT_TRUE(WaitFor([this] { return IsWindowVisible(main_) != FALSE; }, 3000));
    Sleep(300);
  }

  // Real input, as from the mouse and the keyboard.
  void PointAt(int id, int dx = 0, int dy = 0) {
    RECT r;
    GetWindowRect(Control(id), &r);
    SetCursorPos((r.left + r.right) / 2 + dx, (r.top + r.bottom) / 2 + dy);
  }
  void Click(int id) {
    PointAt(id);
    Sleep(100);
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
    Sleep(200);
  }
  static void Key(WORD key) {
    keybd_event(static_cast<BYTE>(key), 0, 0, 0);
    keybd_event(static_cast<BYTE>(key), 0, KEYEVENTF_KEYUP, 0);
    Sleep(60);
  }

  PROCESS_INFORMATION process_{};
  HWND main_ = nullptr;
};

}  // namespace clockagent::test
