// The four information windows, laid out from tables as the main window is.
#include "ui/info_windows.h"

#include <cstdio>
#include <cstring>

#include "version.h"
#include "ui/widgets.h"

namespace clockagent::ui {
namespace {

constexpr char kInfoPanelClass[] = "ClockAgentInfoPanel";
constexpr COLORREF kSystem = 0xFFFFFFFF;  // the system's colour for the element
constexpr COLORREF kTeal = RGB(0x00, 0x80, 0x80);
constexpr COLORREF kGrey = RGB(0x80, 0x80, 0x80);
constexpr COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kBlack = RGB(0x00, 0x00, 0x00);

enum class Kind { Panel, Label, Picture, Icon, Button, Bullet };
enum Look : unsigned {
  kFlat = 0,
  kLowered = 1,
  kRaised = 2,
  kTwoPixels = 4,  // a bevel two pixels wide
  kWindowColour = 8,
  kRightAligned = 16,  // a label that grows to the left, its right edge fixed
  kCentred = 32,       // a label centred on its parent
  kTimes = 64,         // "Times New Roman", 16 px
};

struct Item {
  int id;
  const char* name;
  Kind kind;
  int parent;  // 0: the window
  int left, top, width, height;
  const char* text;  // caption, or a resource name for a picture
  COLORREF colour;   // background of a panel, text of a label
  unsigned look;
};

struct WindowSpec {
  const char* caption;
  int width, height;  // client area
  int fontHeight;
  const Item* items;
  int count;
};

// About ClockAgent
const Item kAbout[] = {
    {ID_About_Panel1, "Panel1", Kind::Panel, 0, 8, 9, 287, 152, "", kTeal, kLowered | kTwoPixels},
    {ID_About_Image1, "Image1", Kind::Picture, ID_About_Panel1, 16, 24, 73, 73, "ABOUT", kSystem, 0},
    {ID_About_Panel2, "Panel2", Kind::Panel, ID_About_Panel1, 96, 16, 177, 89, "", kSystem, kRaised | kTwoPixels},
    {ID_Label_Version, "Label_Version", Kind::Label, ID_About_Panel2, 49, 7, 76, 19, "Version x.xx", kBlack, kTimes | kCentred},
    {ID_About_Label2, "Label2", Kind::Label, ID_About_Panel2, 27, 26, 123, 19, "Part No. VM-CA-104", kBlack, kTimes | kCentred},
    {ID_Label_Copyright, "Label_Copyright", Kind::Label, ID_About_Panel2, 14, 44, 150, 19, "Copyright 2026 Velmora", kBlack, kTimes | kCentred},
    {ID_About_Label1, "Label1", Kind::Label, ID_About_Panel2, 15, 63, 148, 19, "Velmora Timing Software", kBlack, kTimes | kCentred},
    {ID_Button_OK, "Button_OK", Kind::Button, ID_About_Panel1, 112, 115, 81, 25, "&OK", kSystem, 0},
};

// Supported DARO Packets (the receiver models are examples, not products).
const Item kPackets[] = {
    {ID_Packets_Panel1, "Panel1", Kind::Panel, 0, 8, 8, 65, 89, "", kGrey, kFlat},
    {ID_Packets_Label1, "Label1", Kind::Label, ID_Packets_Panel1, 8, 8, 45, 13, "Pkt 0x41:", kWhite, 0},
    {ID_Packets_Label4, "Label4", Kind::Label, ID_Packets_Panel1, 8, 56, 51, 13, "Pkt 8F-AB:", kWhite, 0},
    {ID_Packets_Panel2, "Panel2", Kind::Panel, 0, 73, 8, 184, 89, "", kSystem, kWindowColour},
    {ID_Packets_Label2, "Label2", Kind::Label, ID_Packets_Panel2, 8, 8, 145, 13, "Velmora VT-1, VT-2, VX-3,", kBlack, 0},
    {ID_Packets_Label3, "Label3", Kind::Label, ID_Packets_Panel2, 8, 24, 58, 13, "Nordwin N-12, etc.", kBlack, 0},
    {ID_Packets_Label5, "Label5", Kind::Label, ID_Packets_Panel2, 8, 56, 152, 13, "Velmora VTR-4, Nordwin NT-9, etc.", kSystem, 0},
};

// System Tray Icons
const Item kIcons[] = {
    {ID_Icons_Panel1, "Panel1", Kind::Panel, 0, 8, 8, 273, 129, "", kSystem, kLowered},
    {ID_Icons_Image1, "Image1", Kind::Icon, ID_Icons_Panel1, 8, 8, 33, 33, "CAWHITESM", kSystem, 0},
    {ID_Icons_Label1, "Label1", Kind::Label, ID_Icons_Panel1, 56, 16, 177, 13, "Sleeping: last update was successful.", kSystem, 0},
    {ID_Icons_Image2, "Image2", Kind::Icon, ID_Icons_Panel1, 8, 48, 33, 33, "CABLUESM", kSystem, 0},
    {ID_Icons_Label2, "Label2", Kind::Label, ID_Icons_Panel1, 56, 56, 116, 13, "Time update in progress.", kSystem, 0},
    {ID_Icons_Image3, "Image3", Kind::Icon, ID_Icons_Panel1, 8, 88, 33, 33, "CAYELLOWSM", kSystem, 0},
    {ID_Icons_Label3, "Label3", Kind::Label, ID_Icons_Panel1, 56, 96, 189, 13, "Sleeping: last update was unsuccessful.", kSystem, 0},
};

// Possible Errors
const Item kErrors[] = {
    {ID_Errors_Panel1, "Panel1", Kind::Panel, 0, 8, 8, 129, 305, "", kGrey, kFlat},
    {ID_Errors_Panel2, "Panel2", Kind::Panel, 0, 137, 8, 292, 305, "", kSystem, kWindowColour},
    {ID_Errors_Label1, "Label1", Kind::Label, ID_Errors_Panel1, 61, 8, 61, 13, "COM Failure:", kWhite, kRightAligned},
    {ID_Errors_Label4, "Label4", Kind::Label, ID_Errors_Panel1, 61, 72, 61, 13, "DARO Failure:", kWhite, kRightAligned},
    {ID_Errors_Label11, "Label11", Kind::Label, ID_Errors_Panel1, 13, 216, 109, 13, "System Update Failure:", kWhite, kRightAligned},
    {ID_Errors_Label15, "Label15", Kind::Label, ID_Errors_Panel1, 74, 264, 48, 13, "Bad Time:", kWhite, kRightAligned},
    {ID_Errors_Label2, "Label2", Kind::Label, ID_Errors_Panel2, 8, 9, 124, 13, "Unable to open serial port.", kBlack, 0},
    {ID_Errors_Shape2, "Shape2", Kind::Bullet, ID_Errors_Panel2, 8, 29, 5, 5, "", kBlack, 0},
    {ID_Errors_Label3, "Label3", Kind::Label, ID_Errors_Panel2, 16, 25, 181, 13, "Make sure the port isn't already in use.", kBlack, 0},
    {ID_Errors_Shape6, "Shape6", Kind::Bullet, ID_Errors_Panel2, 8, 45, 5, 5, "", kBlack, 0},
    {ID_Errors_Label18, "Label18", Kind::Label, ID_Errors_Panel2, 16, 41, 121, 13, "Make sure the port exists.", kBlack, 0},
    {ID_Errors_Label5, "Label5", Kind::Label, ID_Errors_Panel2, 8, 73, 252, 13, "The receiver did not return any of the supported DARO", kBlack, 0},
    {ID_Errors_Label6, "Label6", Kind::Label, ID_Errors_Panel2, 8, 89, 167, 13, "timing packets within five seconds. ", kBlack, 0},
    {ID_Errors_Shape1, "Shape1", Kind::Bullet, ID_Errors_Panel2, 8, 109, 5, 5, "", kBlack, 0},
    {ID_Errors_Label7, "Label7", Kind::Label, ID_Errors_Panel2, 16, 105, 212, 13, "Make sure the serial port settings are correct.", kBlack, 0},
    {ID_Errors_Shape3, "Shape3", Kind::Bullet, ID_Errors_Panel2, 8, 125, 5, 5, "", kBlack, 0},
    {ID_Errors_Label9, "Label9", Kind::Label, ID_Errors_Panel2, 16, 121, 255, 13, "Make sure the receiver is capable of outputting one of", kBlack, 0},
    {ID_Errors_Label10, "Label10", Kind::Label, ID_Errors_Panel2, 16, 137, 166, 13, "the supported DARO timing packets.", kBlack, 0},
    {ID_Errors_Shape7, "Shape7", Kind::Bullet, ID_Errors_Panel2, 8, 157, 5, 5, "", kBlack, 0},
    {ID_Errors_Label19, "Label19", Kind::Label, ID_Errors_Panel2, 16, 153, 257, 13, "Make sure the receiver is attached to the correct serial", kBlack, 0},
    {ID_Errors_Label20, "Label20", Kind::Label, ID_Errors_Panel2, 16, 169, 21, 13, "port.", kBlack, 0},
    {ID_Errors_Shape8, "Shape8", Kind::Bullet, ID_Errors_Panel2, 8, 189, 5, 5, "", kBlack, 0},
    {ID_Errors_Label21, "Label21", Kind::Label, ID_Errors_Panel2, 16, 185, 170, 13, "Make sure the receiver is turned on.", kBlack, 0},
    {ID_Errors_Label12, "Label12", Kind::Label, ID_Errors_Panel2, 8, 217, 258, 13, "The PC returned a failure on the attempt to update  the", kBlack, 0},
    {ID_Errors_Label13, "Label13", Kind::Label, ID_Errors_Panel2, 8, 233, 64, 13, "system clock.", kBlack, 0},
    {ID_Errors_Label16, "Label16", Kind::Label, ID_Errors_Panel2, 8, 265, 160, 13, "The receiver returned a time <= 0.", kBlack, 0},
    {ID_Errors_Shape5, "Shape5", Kind::Bullet, ID_Errors_Panel2, 8, 285, 5, 5, "", kBlack, 0},
    {ID_Errors_Label17, "Label17", Kind::Label, ID_Errors_Panel2, 16, 281, 195, 13, "Wait until your receiver obtains GPS time.", kBlack, 0},
};

template <int N>
constexpr int Count(const Item (&)[N]) {
  return N;
}

const WindowSpec kAboutWindow{"About ClockAgent", 303, 169, 10, kAbout, Count(kAbout)};
const WindowSpec kPacketsWindow{"Supported DARO Packets", 263, 103, 11, kPackets, Count(kPackets)};
const WindowSpec kIconsWindow{"System Tray Icons", 287, 144, 11, kIcons, Count(kIcons)};
const WindowSpec kErrorsWindow{"Possible Errors", 436, 321, 11, kErrors, Count(kErrors)};

const Item* ItemOf(HWND control) {
  return reinterpret_cast<const Item*>(GetWindowLongPtrA(control, GWLP_USERDATA));
}

LRESULT CALLBACK InfoPanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return SendMessageA(RootOf(window), message, wParam, lParam);
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT r;
      GetClientRect(window, &r);
      const Item* item = ItemOf(window);
      if (item->kind == Kind::Bullet) {
        FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(BLACK_BRUSH));
        HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
        Ellipse(dc, r.left, r.top, r.right, r.bottom);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
      } else {
        HBRUSH fill = item->colour != kSystem ? CreateSolidBrush(item->colour) : nullptr;
        FillRect(dc, &r, fill != nullptr ? fill
                                         : GetSysColorBrush((item->look & kWindowColour) ? COLOR_WINDOW
                                                                                         : COLOR_BTNFACE));
        if (fill != nullptr) DeleteObject(fill);
        const UINT edge = (item->look & kLowered) ? BDR_SUNKENOUTER : BDR_RAISEDOUTER;
        if (item->look & (kLowered | kRaised)) {
          DrawEdge(dc, &r, edge, BF_RECT | BF_ADJUST);
          if (item->look & kTwoPixels) DrawEdge(dc, &r, edge, BF_RECT | BF_ADJUST);
        }
      }
      EndPaint(window, &ps);
      return 0;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

struct InfoWindowData {
  HFONT font = nullptr;
  HFONT times = nullptr;
  HBRUSH brushes[8] = {};
  int brushCount = 0;
};

HBRUSH BrushFor(InfoWindowData& data, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  if (data.brushCount < 8) data.brushes[data.brushCount++] = brush;
  return brush;
}

LRESULT CALLBACK InfoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* data = reinterpret_cast<InfoWindowData*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_CLOSE:  // closing hides; the window lives as long as the program
      ShowWindow(window, SW_HIDE);
      return 0;
    case WM_COMMAND:
      // Button_OKClick, or Enter in a window that has the OK button: a close request. Esc (IDCANCEL)
      // does nothing.
      if (LOWORD(wParam) == ID_Button_OK || (LOWORD(wParam) == IDOK && GetPropA(window, "ok"))) {
        PostMessageA(window, WM_CLOSE, 0, 0);
      }
      return 0;
    case WM_CTLCOLORSTATIC: {
      // A label takes its panel's background and its own text colour.
      HWND control = reinterpret_cast<HWND>(lParam);
      const Item* item = ItemOf(control);
      const Item* panel = ItemOf(GetParent(control));
      HDC dc = reinterpret_cast<HDC>(wParam);
      if (item != nullptr && item->colour != kSystem) SetTextColor(dc, item->colour);
      SetBkMode(dc, TRANSPARENT);
      if (panel != nullptr && panel->colour != kSystem && data != nullptr) {
        // One brush per panel colour, made the first time it is asked for.
        HBRUSH brush = reinterpret_cast<HBRUSH>(GetPropA(GetParent(control), "brush"));
        if (brush == nullptr) {
          brush = BrushFor(*data, panel->colour);
          SetPropA(GetParent(control), "brush", brush);
        }
        return reinterpret_cast<LRESULT>(brush);
      }
      const bool windowColour = panel != nullptr && (panel->look & kWindowColour);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(windowColour ? COLOR_WINDOW : COLOR_BTNFACE));
    }
    case WM_NCDESTROY:
      RemovePropA(window, "ok");
      if (data != nullptr) {
        if (data->font != nullptr) DeleteObject(data->font);
        if (data->times != nullptr) DeleteObject(data->times);
        for (int i = 0; i < data->brushCount; ++i) DeleteObject(data->brushes[i]);
        delete data;
      }
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND Build(HINSTANCE instance, HWND owner, const WindowSpec& spec) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const auto scale = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };

  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  RECT frame{0, 0, scale(spec.width), scale(spec.height)};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
  HWND window = CreateWindowExA(WS_EX_CONTROLPARENT, kInfoWindowClass, spec.caption, style,
                                CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                frame.bottom - frame.top, owner, nullptr, instance, nullptr);
  auto* data = new InfoWindowData;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
  data->font = CreateFontA(-scale(spec.fontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
  data->times = CreateFontA(-scale(16), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_ROMAN, "Times New Roman");

  for (int i = 0; i < spec.count; ++i) {
    const Item& item = spec.items[i];
    HWND parent = window;
    if (item.parent != 0) {
      // Parents come before their children in the tables.
      for (int j = 0; j < i; ++j) {
        if (spec.items[j].id == item.parent) {
          parent = reinterpret_cast<HWND>(GetPropA(window, spec.items[j].name));
        }
      }
    }
    const char* windowClass = "STATIC";
    DWORD controlStyle = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    const char* text = item.text;
    switch (item.kind) {
      case Kind::Panel:
      case Kind::Bullet:
        windowClass = kInfoPanelClass;
        exStyle = WS_EX_CONTROLPARENT;
        text = "";
        break;
      case Kind::Label:
        controlStyle |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
        break;
      case Kind::Picture:
        controlStyle |= SS_BITMAP;
        text = "";
        break;
      case Kind::Icon:
        controlStyle |= SS_ICON;
        text = "";
        break;
      case Kind::Button:
        windowClass = "BUTTON";
        controlStyle |= BS_DEFPUSHBUTTON | WS_TABSTOP;
        break;
    }
    HWND control = CreateWindowExA(exStyle, windowClass, text, controlStyle, scale(item.left),
                                   scale(item.top), scale(item.width), scale(item.height), parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(item.id)),
                                   instance, nullptr);
    SetWindowLongPtrA(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&item));
    SetPropA(window, item.name, control);
    HFONT font = (item.look & kTimes) ? data->times : data->font;
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

    if (item.kind == Kind::Picture) {
      SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP,
                   reinterpret_cast<LPARAM>(LoadImageA(instance, item.text, IMAGE_BITMAP, 0, 0, 0)));
    } else if (item.kind == Kind::Icon) {
      // The very picture of the notification-area icon, at the standard icon size.
      SendMessageA(control, STM_SETIMAGE, IMAGE_ICON,
                   reinterpret_cast<LPARAM>(LoadImageA(instance, item.text, IMAGE_ICON, 32, 32, 0)));
    } else if (item.kind == Kind::Label) {
      if (item.id == ID_Label_Version) {
        char version[32];
        std::snprintf(version, sizeof version, kVersionFormat, kVersionText);
        SetWindowTextA(control, version);
      }
      // Labels size themselves to their text; the layout fixes their left edge, their right edge
      // (right-aligned) or their centre on the parent (centred).
      char current[128];
      GetWindowTextA(control, current, sizeof current);
      const SIZE size = TextSize(control, font, current);
      int left = scale(item.left);
      if (item.look & kRightAligned) left = scale(item.left + item.width) - size.cx;
      if (item.look & kCentred) {
        RECT p;
        GetClientRect(parent, &p);
        left = (p.right - size.cx) / 2;
      }
      SetWindowPos(control, nullptr, left, scale(item.top), size.cx + 1, size.cy, SWP_NOZORDER);
    }
  }
  for (int i = 0; i < spec.count; ++i) {
    if (spec.items[i].kind == Kind::Button) SetPropA(window, "ok", GetPropA(window, spec.items[i].name));
  }
  for (int i = 0; i < spec.count; ++i) RemovePropA(window, spec.items[i].name);
  return window;
}

}  // namespace

void InfoWindows::Create(HINSTANCE instance, HWND application, HICON icon) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = InfoProc;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kInfoWindowClass;
  RegisterClassA(&wc);
  WNDCLASSA panel = wc;
  panel.lpfnWndProc = InfoPanelProc;
  panel.hIcon = nullptr;
  panel.lpszClassName = kInfoPanelClass;
  RegisterClassA(&panel);

  about_.hwnd = Build(instance, application, kAboutWindow);
  packets_.hwnd = Build(instance, application, kPacketsWindow);
  icons_.hwnd = Build(instance, application, kIconsWindow);
  errors_.hwnd = Build(instance, application, kErrorsWindow);
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
  // The OK button of the About window is the only control that takes the keyboard focus.
  if (HWND ok = FindWindowExA(window.hwnd, nullptr, nullptr, nullptr)) {
    if (HWND button = GetDlgItem(ok, ID_Button_OK)) SetFocus(button);
  }
}

}  // namespace clockagent::ui
