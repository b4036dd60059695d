// The interval field.
#include "ui/mask_edit.h"

#include <commctrl.h>

#include "ui/layout.h"

namespace clockagent::ui {
namespace {

constexpr int kLength = 8;
constexpr char kBlank = '_';
constexpr char kTemplate[] = "__ __:__";
constexpr bool kDigit[kLength] = {true, true, false, true, true, false, true, true};
constexpr bool kRequired[kLength] = {false, true, false, false, true, false, true, true};
constexpr UINT WM_VALIDATE = WM_APP + 40;
constexpr UINT_PTR kSubclassId = 1;

struct FieldState {
  std::string textAtFocus;
  bool modified = false;
  bool validating = false;
};

std::string RawText(HWND edit) {
  char text[kLength + 1] = {};
  GetWindowTextA(edit, text, sizeof text);
  std::string s = text;
  if (s.size() != kLength) s = kTemplate;
  return s;
}

void Put(HWND edit, const std::string& text, int caret) {
  SetWindowTextA(edit, text.c_str());
  SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(caret), caret);
}

int Caret(HWND edit) {
  DWORD start = 0;
  SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
  return static_cast<int>(start);
}

int NextDigit(int pos) {
  while (pos < kLength && !kDigit[pos]) ++pos;
  return pos;
}

int FirstBlankRequired(const std::string& text) {
  for (int i = 0; i < kLength; ++i) {
    if (kRequired[i] && text[static_cast<std::size_t>(i)] == kBlank) return i;
  }
  return -1;
}

LRESULT CALLBACK FieldProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR data) {
  auto* state = reinterpret_cast<FieldState*>(data);
  switch (message) {
    case WM_CHAR: {
      std::string text = RawText(edit);
      const auto c = static_cast<char>(wParam);
      if (c >= '0' && c <= '9') {
        const int pos = NextDigit(Caret(edit));
        if (pos >= kLength) {
          MessageBeep(MB_OK);
          return 0;
        }
        text[static_cast<std::size_t>(pos)] = c;
        state->modified = true;
        Put(edit, text, NextDigit(pos + 1));
      } else if (c == '\b') {
        int pos = Caret(edit) - 1;
        while (pos >= 0 && !kDigit[pos]) --pos;
        if (pos >= 0) {
          text[static_cast<std::size_t>(pos)] = kBlank;
          state->modified = true;
          Put(edit, text, pos);
        }
      } else if (c == 27) {  // Esc
        state->modified = false;
        Put(edit, state->textAtFocus, 0);
      }
      return 0;  // anything else is not typed
    }
    case WM_KEYDOWN:
      if (wParam == VK_DELETE) {
        std::string text = RawText(edit);
        const int pos = Caret(edit);
        if (pos < kLength && kDigit[pos]) {
          text[static_cast<std::size_t>(pos)] = kBlank;
          state->modified = true;
          Put(edit, text, pos);
        }
        return 0;
      }
      break;
    case WM_GETDLGCODE: {
      // Esc belongs to the field (it abandons the changes), not to the window.
      const auto* msg = reinterpret_cast<const MSG*>(lParam);
      if (msg != nullptr && (msg->message == WM_KEYDOWN || msg->message == WM_CHAR) &&
          msg->wParam == VK_ESCAPE) {
        return DLGC_WANTMESSAGE | DefSubclassProc(edit, message, wParam, lParam);
      }
      break;
    }
    case WM_PASTE:
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
      return 0;
    case WM_SETFOCUS:
      if (!state->validating) {
        state->textAtFocus = RawText(edit);
        state->modified = false;
      }
      break;
    case WM_KILLFOCUS:
      if (state->modified && !state->validating && FirstBlankRequired(RawText(edit)) >= 0) {
        PostMessageA(edit, WM_VALIDATE, 0, 0);  // after the focus has moved
      }
      break;
    case WM_VALIDATE: {
      // Only while the focus is really elsewhere: a request left over from an earlier move is
      // void once the focus is back here.
      const int blank = FirstBlankRequired(RawText(edit));
      if (blank < 0 || state->validating || GetFocus() == edit) return 0;
      state->validating = true;
      MessageBeep(MB_OK);
      SetFocus(edit);
      SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(blank), blank);
      MessageBoxA(GetAncestor(edit, GA_ROOT), kInvalidInputMessage, kApplicationTitle,
                  MB_OK | MB_ICONERROR);
      SetFocus(edit);
      SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(blank), blank);
      state->validating = false;
      return 0;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(edit, FieldProc, kSubclassId);
      delete state;
      break;
  }
  return DefSubclassProc(edit, message, wParam, lParam);
}

}  // namespace

void MakeIntervalField(HWND edit) {
  SendMessageA(edit, EM_SETLIMITTEXT, kLength, 0);
  SetWindowSubclass(edit, FieldProc, kSubclassId, reinterpret_cast<DWORD_PTR>(new FieldState));
}

std::string IntervalFieldText(HWND edit) {
  // Each field is the number its digits make, as "%d" reads a field with a blank in it: "_6"
  // and "6_" are 6 and "__" is 0 (only a zero total then stops Start). The result is "dd hh:mm" with two digits in every field.
  const std::string raw = RawText(edit);
  std::string text = "00 00:00";
  for (std::size_t field = 0; field < 8; field += 3) {
    int value = 0;
    for (std::size_t i = field; i < field + 2; ++i) {
      if (raw[i] >= '0' && raw[i] <= '9') value = value * 10 + (raw[i] - '0');
    }
    text[field] = static_cast<char>('0' + value / 10);
    text[field + 1] = static_cast<char>('0' + value % 10);
  }
  return text;
}

void SetIntervalFieldText(HWND edit, const char* text) {
  std::string s = kTemplate;
  for (int i = 0; i < kLength && text[i] != '\0'; ++i) {
    const char c = text[i];
    if (kDigit[i]) s[static_cast<std::size_t>(i)] = c >= '0' && c <= '9' ? c : kBlank;
  }
  SetWindowTextA(edit, s.c_str());
}

}  // namespace clockagent::ui
