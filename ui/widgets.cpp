// Bevelled panels, labels, picture buttons, and the builder of a window's controls.
#include "ui/widgets.h"

#include <commctrl.h>

#include <string>

#include "ui/mask_edit.h"

namespace clockagent::ui {
namespace {

constexpr char kRowProperty[] = "ClockAgent.row";
constexpr char kFontProperty[] = "ClockAgent.font";
constexpr char kPictureProperty[] = "ClockAgent.picture";
constexpr char kPressedProperty[] = "ClockAgent.pressed";  // the left button went down on it
constexpr char kDownProperty[] = "ClockAgent.down";        // ... and the pointer is on it

HFONT FontOf(HWND window) { return static_cast<HFONT>(GetPropA(window, kFontProperty)); }

std::string TextOf(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, &text[0], static_cast<int>(text.size()))));
  return text;
}

// A container's background; labels and bullets show their container's.
COLORREF BackgroundOf(HWND window) {
  const ControlRow* row = RowOf(window);
  if (row == nullptr) return GetSysColor(COLOR_BTNFACE);
  if (row->kind == Kind::Label || row->kind == Kind::Bullet) return BackgroundOf(GetParent(window));
  if (row->colour != kSystemColour) return row->colour;
  return GetSysColor((row->look & kWindowColour) ? COLOR_WINDOW : COLOR_BTNFACE);
}

void Fill(HDC dc, const RECT& r, COLORREF colour) {
  SetDCBrushColor(dc, colour);
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

// Where GetTextExtentExPoint puts the end of each character of `text`.
std::vector<int> Advances(HDC dc, const std::string& text, SIZE* size) {
  const int length = static_cast<int>(text.size());
  std::vector<int> advances(text.size());
  GetTextExtentExPointA(dc, text.c_str(), length, 0, nullptr, advances.data(), size);
  for (int i = length - 1; i > 0; --i) {
    advances[static_cast<std::size_t>(i)] -= advances[static_cast<std::size_t>(i - 1)];
  }
  return advances;
}

// One line of text in `area`, each character where the extent functions measure it: left,
// right-aligned or centred as the look says, at the top or in the middle. Drawn as measured,
// labels sized by measuring keep their whole text and their alignment, whatever the renderer's
// own spacing would be.
void DrawLine(HDC dc, const RECT& area, const std::string& text, unsigned look, bool middle) {
  if (text.empty()) return;
  SIZE size{};
  const std::vector<int> advances = Advances(dc, text, &size);
  int x = area.left;
  if (look & kRightAligned) x = area.right - size.cx;
  if (look & kCentred) x = (area.left + area.right - size.cx) / 2;
  const int y = middle ? (area.top + area.bottom - size.cy) / 2 : area.top;
  SetBkMode(dc, TRANSPARENT);
  ExtTextOutA(dc, x, y, ETO_CLIPPED, &area, text.c_str(), static_cast<UINT>(text.size()),
              advances.data());
}

// The room a line of text needs in a control's own device context with its own font, with
// whatever its last character reaches past its advance.
SIZE RoomFor(HWND control, const std::string& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, FontOf(control));
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ABC last{};
  if (!text.empty() && GetCharABCWidthsA(dc, static_cast<UCHAR>(text.back()),
                                         static_cast<UCHAR>(text.back()), &last) &&
      last.abcC < 0) {
    size.cx -= last.abcC;
  }
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size;
}

// A label is as large as its text needs and never smaller than its layout. Its left edge, its
// right edge (right-aligned) or its centre on its parent (centred) stays where the layout puts it.
void FitLabel(HWND label) {
  const ControlRow* row = RowOf(label);
  if (row == nullptr || FontOf(label) == nullptr) return;
  const SIZE room = RoomFor(label, TextOf(label));
  const int width = room.cx > Scaled(row->width) ? room.cx : Scaled(row->width);
  const int height = room.cy > Scaled(row->height) ? room.cy : Scaled(row->height);
  int left = Scaled(row->left);
  if (row->look & kRightAligned) left = Scaled(row->left + row->width) - width;
  if (row->look & kCentred) {
    RECT parent;
    GetClientRect(GetParent(label), &parent);
    left = (parent.right - width) / 2;
  }
  SetWindowPos(label, nullptr, left, Scaled(row->top), width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

// Bevels as a panel draws them: the outer one, a border, the inner one; each one or two pixels.
void DrawBevels(HDC dc, RECT& r, unsigned look) {
  const int width = (look & kTwoPixels) ? 2 : 1;
  for (int i = 0; i < width; ++i) {
    if (look & kLoweredOuter) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
    if (look & kRaisedOuter) DrawEdge(dc, &r, BDR_RAISEDOUTER, BF_RECT | BF_ADJUST);
  }
  if (look & kBorder) InflateRect(&r, -1, -1);
  for (int i = 0; i < width; ++i) {
    if (look & kLoweredInner) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  }
}

// A group frame with the caption set into its top edge, the frame kept clear of it by a gap.
void DrawGroupFrame(HWND group, HDC dc, const RECT& r) {
  const std::string caption = TextOf(group);
  SIZE size{};
  Advances(dc, caption, &size);
  RECT frame = r;
  frame.top += size.cy / 2;
  DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
  constexpr int kCaptionLeft = 8, kGap = 2;
  const RECT clear{kCaptionLeft - kGap, 0, kCaptionLeft + size.cx + kGap, size.cy};
  Fill(dc, clear, BackgroundOf(group));
  SetTextColor(dc, GetSysColor(IsWindowEnabled(group) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  const RECT text{kCaptionLeft, 0, kCaptionLeft + size.cx, size.cy};
  DrawLine(dc, text, caption, kFlat, false);
}

LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
      return SendMessageA(RootOf(window), message, wParam, lParam);
    case WM_CTLCOLORSTATIC: {
      // Pictures and radio buttons on this panel take its background.
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, BackgroundOf(window));
      SetDCBrushColor(dc, BackgroundOf(window));
      return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
    }
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
      const ControlRow* row = RowOf(window);
      HGDIOBJ oldFont = SelectObject(dc, FontOf(window));
      if (row != nullptr && row->kind == Kind::Bullet) {
        Fill(dc, r, BackgroundOf(window));
        SetDCBrushColor(dc, row->colour);
        SetDCPenColor(dc, row->colour);
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
        HGDIOBJ oldPen = SelectObject(dc, GetStockObject(DC_PEN));
        Ellipse(dc, r.left, r.top, r.right, r.bottom);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
      } else if (row != nullptr) {
        Fill(dc, r, BackgroundOf(window));
        DrawBevels(dc, r, row->look);
        if (row->kind == Kind::RadioGroup) DrawGroupFrame(window, dc, r);
        if (row->kind == Kind::TextPanel) {
          SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
          InflateRect(&r, -2, 0);
          DrawLine(dc, r, TextOf(window), row->look, true);
        }
      }
      SelectObject(dc, oldFont);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_SETFONT:
      SetPropA(window, kFontProperty, reinterpret_cast<HANDLE>(wParam));
      if (LOWORD(lParam)) InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(FontOf(window));
    case WM_NCDESTROY:
      RemovePropA(window, kFontProperty);
      RemovePropA(window, kRowProperty);
      break;
    case WM_ERASEBKGND:
      return 1;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK LabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCHITTEST:  // the pointer belongs to what is under the label
      return HTTRANSPARENT;
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
      FitLabel(window);
      InvalidateRect(window, nullptr, TRUE);
      return result;
    }
    case WM_SETFONT:
      SetPropA(window, kFontProperty, reinterpret_cast<HANDLE>(wParam));
      FitLabel(window);
      if (LOWORD(lParam)) InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(FontOf(window));
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT r;
      GetClientRect(window, &r);
      Fill(dc, r, BackgroundOf(window));
      const ControlRow* row = RowOf(window);
      const bool ownColour = row != nullptr && row->colour != kSystemColour;
      SetTextColor(dc, ownColour ? row->colour : GetSysColor(COLOR_WINDOWTEXT));
      HGDIOBJ old = SelectObject(dc, FontOf(window));
      DrawLine(dc, r, TextOf(window), row != nullptr ? row->look : kFlat, false);
      SelectObject(dc, old);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_NCDESTROY:
      RemovePropA(window, kFontProperty);
      RemovePropA(window, kRowProperty);
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// A speed button's picture holds the normal and the disabled picture side by side when it is
// twice as wide as high. The colour of its bottom-left pixel is transparent.
void DrawPicture(HDC dc, const RECT& area, HBITMAP picture, bool disabled, int shift) {
  BITMAP info;
  if (picture == nullptr || !GetObjectA(picture, sizeof info, &info)) return;
  const int halves = info.bmWidth == 2 * info.bmHeight ? 2 : 1;
  const int width = info.bmWidth / halves;
  const int height = info.bmHeight;
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, picture);
  const COLORREF transparent = GetPixel(source, 0, height - 1);
  const int x = area.left + (area.right - area.left - width) / 2 + shift;
  const int y = area.top + (area.bottom - area.top - height) / 2 + shift;
  const int from = disabled && halves > 1 ? width : 0;
  TransparentBlt(dc, x, y, width, height, source, from, 0, width, height, transparent);
  SelectObject(source, old);
  DeleteDC(source);
}

void SetDown(HWND button, bool down) {
  if ((GetPropA(button, kDownProperty) != nullptr) == down) return;
  if (down) {
    SetPropA(button, kDownProperty, reinterpret_cast<HANDLE>(1));
  } else {
    RemovePropA(button, kDownProperty);
  }
  InvalidateRect(button, nullptr, FALSE);
}

bool PointerOn(HWND button, LPARAM lParam) {
  RECT r;
  GetClientRect(button, &r);
  const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  return PtInRect(&r, p) != FALSE;
}

void Release(HWND button) {
  RemovePropA(button, kPressedProperty);
  SetDown(button, false);
}

LRESULT CALLBACK SpeedButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetCapture(window);
      SetPropA(window, kPressedProperty, reinterpret_cast<HANDLE>(1));
      SetDown(window, true);
      return 0;
    case WM_MOUSEMOVE:
      // As a push button: pressed, it rises while the pointer is off it and sinks again when
      // the pointer comes back.
      if (GetPropA(window, kPressedProperty) != nullptr) SetDown(window, PointerOn(window, lParam));
      return 0;
    case WM_LBUTTONUP: {
      const bool click = GetPropA(window, kPressedProperty) != nullptr && PointerOn(window, lParam) &&
                         IsWindowEnabled(window);
      Release(window);
      if (GetCapture() == window) ReleaseCapture();
      if (click) {
        SendMessageA(RootOf(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), BN_CLICKED),
                     reinterpret_cast<LPARAM>(window));
      }
      return 0;
    }
    case WM_CAPTURECHANGED:
      Release(window);
      return 0;
    case WM_ENABLE:
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT r;
      GetClientRect(window, &r);
      const bool down = GetPropA(window, kDownProperty) != nullptr;
      FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
      DrawEdge(dc, &r, down ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
      DrawPicture(dc, r, static_cast<HBITMAP>(GetPropA(window, kPictureProperty)),
                  !IsWindowEnabled(window), down ? 1 : 0);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_NCDESTROY:
      RemovePropA(window, kPressedProperty);
      RemovePropA(window, kDownProperty);
      RemovePropA(window, kPictureProperty);
      RemovePropA(window, kRowProperty);
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool FirstOfItsGroup(const WindowLayout& layout, int index) {
  const ControlRow& row = layout.rows[index];
  return index == 0 || layout.rows[index - 1].kind != row.kind ||
         layout.rows[index - 1].parent != row.parent;
}

}  // namespace

HWND RootOf(HWND window) { return GetAncestor(window, GA_ROOT); }

int Scaled(int pixels) {
  static const int dpi = [] {
    HDC screen = GetDC(nullptr);
    const int value = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return value;
  }();
  return MulDiv(pixels, dpi, 96);
}

HFONT CreateLayoutFont(unsigned look, int fontHeight) {
  const bool times = (look & kTimes) != 0;
  const int height = times ? 16 : (look & kBold) ? 13 : fontHeight;
  return CreateFontA(-Scaled(height), 0, 0, 0, (look & kBold) ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                     FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | (times ? FF_ROMAN : FF_SWISS),
                     times ? "Times New Roman" : "MS Sans Serif");
}

const ControlRow* RowOf(HWND control) {
  return static_cast<const ControlRow*>(GetPropA(control, kRowProperty));
}

Controls::~Controls() {
  for (const auto& font : fonts_) DeleteObject(font.second);
  for (HBITMAP bitmap : bitmaps_) DeleteObject(bitmap);
  for (HICON icon : icons_) DestroyIcon(icon);
}

HWND Controls::operator[](int id) const {
  const auto found = byId_.find(id);
  return found != byId_.end() ? found->second : nullptr;
}

HFONT Controls::FontFor(unsigned look, int fontHeight) {
  const unsigned key = look & (kBold | kTimes);
  HFONT& font = fonts_[key];
  if (font == nullptr) font = CreateLayoutFont(key, fontHeight);
  return font;
}

void Controls::Build(HINSTANCE instance, HWND window, const WindowLayout& layout) {
  for (int i = 0; i < layout.count; ++i) {
    const ControlRow& row = layout.rows[i];
    const HWND parent = row.parent == kNoParent ? window : (*this)[row.parent];
    const char* windowClass = kPanelClass;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    int height = row.height;
    const char* text = row.text;
    switch (row.kind) {
      case Kind::Panel:
      case Kind::TextPanel:
      case Kind::RadioGroup:
        exStyle = WS_EX_CONTROLPARENT;
        break;
      case Kind::Bullet:
        break;
      case Kind::Label:
        windowClass = kLabelClass;
        break;
      case Kind::MaskEdit:
        windowClass = "EDIT";
        style |= WS_TABSTOP | ES_LEFT;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case Kind::RadioButton:
        windowClass = "BUTTON";
        style |= BS_AUTORADIOBUTTON | WS_TABSTOP | (FirstOfItsGroup(layout, i) ? WS_GROUP : 0);
        break;
      case Kind::DropDown:
        windowClass = "COMBOBOX";
        style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
        height = row.height + kListRows * 13 + 2;  // the opened list, where its height is ours
        text = "";
        break;
      case Kind::SpeedButton:
        windowClass = kSpeedButtonClass;
        text = "";
        break;
      case Kind::Picture:
      case Kind::Icon:
        windowClass = "STATIC";
        style |= row.kind == Kind::Picture ? SS_BITMAP : SS_ICON;
        text = "";
        break;
      case Kind::Button:
        windowClass = "BUTTON";
        style |= BS_DEFPUSHBUTTON | WS_TABSTOP;
        break;
      case Kind::CheckBox:
        windowClass = "BUTTON";
        style |= BS_AUTOCHECKBOX | WS_TABSTOP;
        break;
    }
    HWND control = CreateWindowExA(exStyle, windowClass, text, style, Scaled(row.left),
                                   Scaled(row.top), Scaled(row.width), Scaled(height), parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)),
                                   instance, nullptr);
    byId_[row.id] = control;
    SetPropA(control, kRowProperty, const_cast<ControlRow*>(&row));
    SendMessageA(control, WM_SETFONT,
                 reinterpret_cast<WPARAM>(FontFor(row.look, layout.fontHeight)), FALSE);

    switch (row.kind) {
      case Kind::DropDown:
        for (const std::string& item : DropDownItems(row.id)) {
          SendMessageA(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        }
        SendMessageA(control, CB_SETITEMHEIGHT, 0, Scaled(13));
        SendMessageA(control, CB_SETMINVISIBLE, kListRows, 0);
        break;
      case Kind::MaskEdit:
        MakeIntervalField(control);
        SetIntervalFieldText(control, row.text);
        break;
      case Kind::SpeedButton: {
        HBITMAP picture = LoadBitmapA(instance, row.text);
        bitmaps_.push_back(picture);
        SetPropA(control, kPictureProperty, picture);
        break;
      }
      case Kind::Picture: {
        auto* picture = static_cast<HBITMAP>(LoadImageA(instance, row.text, IMAGE_BITMAP, 0, 0, 0));
        bitmaps_.push_back(picture);
        SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
        break;
      }
      case Kind::Icon: {
        // The very picture of the notification-area icon, at the standard icon size.
        auto* icon = static_cast<HICON>(LoadImageA(instance, row.text, IMAGE_ICON, 32, 32, 0));
        icons_.push_back(icon);
        SendMessageA(control, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
        break;
      }
      default:
        break;
    }
  }
}

bool KeepFocus(HWND window, WPARAM activation, HWND* saved) {
  if (LOWORD(activation) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(window, focus)) *saved = focus;
    return false;
  }
  if (HIWORD(activation) != 0) return false;  // minimised
  HWND focus = *saved;
  if (focus == nullptr || !IsChild(window, focus) || !IsWindowEnabled(focus) ||
      !IsWindowVisible(focus)) {
    return false;
  }
  SetFocus(focus);
  return true;
}

void CentreOnScreen(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  const int left = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
  SetWindowPos(window, nullptr, left > 0 ? left : 0, top > 0 ? top : 0, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool RegisterWidgetClasses(HINSTANCE instance) {
  WNDCLASSA panel{};
  panel.lpfnWndProc = PanelProc;
  panel.hInstance = instance;
  panel.hCursor = LoadCursor(nullptr, IDC_ARROW);
  panel.lpszClassName = kPanelClass;
  WNDCLASSA label = panel;
  label.lpfnWndProc = LabelProc;
  label.lpszClassName = kLabelClass;
  WNDCLASSA button = panel;
  button.lpfnWndProc = SpeedButtonProc;
  button.style = CS_DBLCLKS;
  button.lpszClassName = kSpeedButtonClass;
  return RegisterClassA(&panel) != 0 && RegisterClassA(&label) != 0 &&
         RegisterClassA(&button) != 0;
}

}  // namespace clockagent::ui
