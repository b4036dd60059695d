// Bevelled panels and picture buttons.
#include "ui/widgets.h"

namespace clockagent::ui {
namespace {

const ControlSpec* SpecOf(HWND window) {
  return reinterpret_cast<const ControlSpec*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

void DrawBevels(HDC dc, RECT& r, unsigned bevel) {
  if (bevel & kLoweredOuter) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  if (bevel & kRaisedOuter) DrawEdge(dc, &r, BDR_RAISEDOUTER, BF_RECT | BF_ADJUST);
  if (bevel & kLoweredInner) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
}

LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      return SendMessageA(RootOf(window), message, wParam, lParam);
    case WM_ENABLE:
      InvalidateRect(window, nullptr, TRUE);
      break;
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
      InvalidateRect(window, nullptr, TRUE);
      return result;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT r;
      GetClientRect(window, &r);
      const ControlSpec* spec = SpecOf(window);
      if (spec != nullptr) {
        const bool textPanel = spec->kind == Kind::TextPanel;
        FillRect(dc, &r, GetSysColorBrush(textPanel ? COLOR_WINDOW : COLOR_BTNFACE));
        DrawBevels(dc, r, spec->bevel);
        if (spec->kind == Kind::RadioGroup) {
          // A group frame with the caption set into its top edge.
          char caption[64];
          GetWindowTextA(window, caption, sizeof caption);
          HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(window, WM_GETFONT, 0, 0)));
          SIZE size{};
          GetTextExtentPoint32A(dc, caption, lstrlenA(caption), &size);
          RECT frame = r;
          frame.top += size.cy / 2;
          DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
          SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
          SetTextColor(dc, GetSysColor(IsWindowEnabled(window) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
          TextOutA(dc, 8, 0, caption, lstrlenA(caption));
          SelectObject(dc, old);
        }
        if (textPanel || spec->kind == Kind::StatusField) {
          char text[128];
          GetWindowTextA(window, text, sizeof text);
          SetBkMode(dc, TRANSPARENT);
          SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
          HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(window, WM_GETFONT, 0, 0)));
          r.left += 2;
          r.right -= 2;
          const UINT align = spec->id == ID_Panel_Hint ? DT_LEFT : DT_CENTER;
          DrawTextA(dc, text, -1, &r, align | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
          SelectObject(dc, old);
        }
      }
      EndPaint(window, &ps);
      return 0;
    }
    case WM_SETFONT:
      SetPropA(window, "font", reinterpret_cast<HANDLE>(wParam));
      if (LOWORD(lParam)) InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(GetPropA(window, "font"));
    case WM_NCDESTROY:
      RemovePropA(window, "font");
      break;
    case WM_ERASEBKGND:
      return 1;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void DrawPicture(HDC dc, const RECT& area, const ButtonPicture& picture, bool disabled, int shift) {
  BITMAP info;
  if (picture.bitmap == nullptr || !GetObjectA(picture.bitmap, sizeof info, &info)) return;
  const int width = info.bmWidth / picture.halves;
  const int height = info.bmHeight;
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, picture.bitmap);
  const COLORREF transparent = GetPixel(source, 0, height - 1);
  const int x = area.left + (area.right - area.left - width) / 2 + shift;
  const int y = area.top + (area.bottom - area.top - height) / 2 + shift;
  const int from = disabled && picture.halves > 1 ? width : 0;
  TransparentBlt(dc, x, y, width, height, source, from, 0, width, height, transparent);
  SelectObject(source, old);
  DeleteDC(source);
}

LRESULT CALLBACK SpeedButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const bool pressed = GetPropA(window, "pressed") != nullptr;
  switch (message) {
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetCapture(window);
      SetPropA(window, "pressed", reinterpret_cast<HANDLE>(1));
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_LBUTTONUP: {
      if (GetCapture() == window) ReleaseCapture();
      RemovePropA(window, "pressed");
      InvalidateRect(window, nullptr, FALSE);
      RECT r;
      GetClientRect(window, &r);
      const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (pressed && PtInRect(&r, p) && IsWindowEnabled(window)) {
        const int id = GetDlgCtrlID(window);
        SendMessageA(RootOf(window), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(window));
      }
      return 0;
    }
    case WM_CAPTURECHANGED:
      RemovePropA(window, "pressed");
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_ENABLE:
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT r;
      GetClientRect(window, &r);
      FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
      DrawEdge(dc, &r, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
      const auto* picture = reinterpret_cast<const ButtonPicture*>(GetPropA(window, "picture"));
      if (picture != nullptr) DrawPicture(dc, r, *picture, !IsWindowEnabled(window), pressed ? 1 : 0);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_NCDESTROY:
      RemovePropA(window, "pressed");
      RemovePropA(window, "picture");
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

HWND RootOf(HWND window) { return GetAncestor(window, GA_ROOT); }

void CentreOnScreen(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  const int left = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
  SetWindowPos(window, nullptr, left > 0 ? left : 0, top > 0 ? top : 0, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE TextSize(HWND label, HFONT font, const char* text) {
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  return size;
}

bool RegisterWidgetClasses(HINSTANCE instance) {
  WNDCLASSA panel{};
  panel.lpfnWndProc = PanelProc;
  panel.hInstance = instance;
  panel.hCursor = LoadCursor(nullptr, IDC_ARROW);
  panel.lpszClassName = kPanelClass;
  WNDCLASSA button = panel;
  button.lpfnWndProc = SpeedButtonProc;
  button.style = CS_DBLCLKS;
  button.lpszClassName = kSpeedButtonClass;
  return RegisterClassA(&panel) != 0 && RegisterClassA(&button) != 0;
}

void SetButtonPicture(HWND button, const ButtonPicture* picture) {
  SetPropA(button, "picture", const_cast<ButtonPicture*>(picture));
  InvalidateRect(button, nullptr, TRUE);
}

}  // namespace clockagent::ui
