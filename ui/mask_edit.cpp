// The interval field.
#include "ui/mask_edit.h"

#include <commctrl.h>

#include "ui/interval_mask.h"
#include "ui/layout.h"

namespace clockagent::ui {
namespace {

constexpr UINT WM_VALIDATE = WM_APP + 40;
constexpr UINT_PTR kSubclassId = 1;

struct FieldState {
  bool editing = false;     // from the focus coming in until it moves to another control
  std::string textAtFocus;  // what Esc puts back
  bool modified = false;
  bool validating = false;
};

std::string RawText(HWND edit) {
  char text[kMaskLength + 1] = {};
  GetWindowTextA(edit, text, sizeof text);
  std::string s = text;
  if (s.size() != kMaskLength) s = kMaskTemplate;
  return s;
}

MaskedText Read(HWND edit) {
  MaskedText field;
  field.text = RawText(edit);
  DWORD start = 0, end = 0;
  SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  field.start = static_cast<int>(start);
  field.end = static_cast<int>(end);
  return field;
}

void Show(HWND edit, const MaskedText& field) {
  SetWindowTextA(edit, field.text.c_str());
  SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(field.start), field.end);
}

// An edit through the mask: shown and counted as a change when the mask takes it, a beep when
// it refuses.
template <typename Edit>
void Apply(HWND edit, FieldState* state, Edit change) {
  MaskedText field = Read(edit);
  const std::string before = field.text;
  if (!change(field)) {
    MessageBeep(MB_OK);
    return;
  }
  if (field.text != before) state->modified = true;
  Show(edit, field);
}

// Backspace, or Delete and the commands that clear the selection: the mask always takes them.
auto Eraser(bool backward) {
  return [backward](MaskedText& field) {
    Erase(field, backward);
    return true;
  };
}

std::string ClipboardText(HWND owner) {
  std::string text;
  if (!OpenClipboard(owner)) return text;
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (const auto* chars = static_cast<const char*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

// Whether the focus goes to another control of the field's own window: only that leaves the
// field in the mask's sense. Closing or minimising the window, switching to another program or
// window, or a command that disables the field takes the focus elsewhere without leaving it.
bool ToAnotherControl(HWND edit, HWND to) {
  const HWND root = GetAncestor(edit, GA_ROOT);
  return to != nullptr && to != edit && to != root && GetAncestor(to, GA_ROOT) == root;
}

LRESULT CALLBACK FieldProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR data) {
  auto* state = reinterpret_cast<FieldState*>(data);
  switch (message) {
    case WM_CHAR:
      switch (wParam) {
        case '\b':
          Apply(edit, state, Eraser(true));
          break;
        case 27:  // Esc
          state->modified = false;
          Show(edit, MaskedText{state->textAtFocus, 0, 0});
          break;
        case 1:  // Ctrl+A
          SendMessageA(edit, EM_SETSEL, 0, -1);
          break;
        case 3:  // Ctrl+C
          SendMessageA(edit, WM_COPY, 0, 0);
          break;
        case 0x16:  // Ctrl+V
          SendMessageA(edit, WM_PASTE, 0, 0);
          break;
        case 0x18:  // Ctrl+X
          SendMessageA(edit, WM_CUT, 0, 0);
          break;
        default:
          if (wParam >= '0' && wParam <= '9') {
            const auto digit = static_cast<char>(wParam);
            Apply(edit, state, [digit](MaskedText& field) { return TypeDigit(field, digit); });
          }
          break;  // anything else is not typed
      }
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_DELETE) {
        if (GetKeyState(VK_SHIFT) < 0) return SendMessageA(edit, WM_CUT, 0, 0);
        Apply(edit, state, Eraser(false));
        return 0;
      }
      if (wParam == VK_INSERT) {  // Shift+Insert pastes, Ctrl+Insert copies
        if (GetKeyState(VK_SHIFT) < 0) return SendMessageA(edit, WM_PASTE, 0, 0);
        if (GetKeyState(VK_CONTROL) < 0) return SendMessageA(edit, WM_COPY, 0, 0);
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
    // The edit commands, from the keyboard and from the field's own context menu, go through
    // the mask too.
    case WM_PASTE: {
      const std::string pasted = ClipboardText(edit);
      Apply(edit, state, [&pasted](MaskedText& field) { return Paste(field, pasted); });
      return 0;
    }
    case WM_CUT:
      DefSubclassProc(edit, WM_COPY, 0, 0);
      Apply(edit, state, Eraser(false));
      return 0;
    case WM_CLEAR:
      Apply(edit, state, Eraser(false));
      return 0;
    case WM_UNDO:
    case EM_UNDO:
    case EM_REPLACESEL:
      return 0;
    case WM_SETFOCUS:
      // An edit lasts until the focus moves to another control of the window: coming back from
      // another window or program it goes on, so Esc still puts back the text from before it.
      if (!state->editing) {
        state->editing = true;
        state->textAtFocus = RawText(edit);
        state->modified = false;
      }
      break;
    case WM_KILLFOCUS:
      if (ToAnotherControl(edit, reinterpret_cast<HWND>(wParam)) && !state->validating) {
        if (state->modified && FirstBlankRequired(RawText(edit)) >= 0) {
          PostMessageA(edit, WM_VALIDATE, 0, 0);  // after the focus has moved; the edit goes on
        } else {
          state->editing = false;
        }
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
  SendMessageA(edit, EM_SETLIMITTEXT, kMaskLength, 0);
  SetWindowSubclass(edit, FieldProc, kSubclassId, reinterpret_cast<DWORD_PTR>(new FieldState));
}

std::string IntervalFieldText(HWND edit) {
  // Each field is the number its digits make, as "%d" reads a field with a blank in it: "_6"
  // and "6_" are 6 and "__" is 0 (only a zero total then stops Start). The result is "dd hh:mm"
  // with two digits in every field.
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
  SetWindowTextA(edit, Masked(text).c_str());
}

}  // namespace clockagent::ui
