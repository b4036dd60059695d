// The window classes of our own controls: bevelled panels (with or without text) and picture
// buttons that never take the keyboard focus.
#pragma once

#include <windows.h>

#include "ui/layout.h"

namespace clockagent::ui {

constexpr char kPanelClass[] = "ClockAgentPanel";
constexpr char kSpeedButtonClass[] = "ClockAgentSpeedButton";

// Registers both classes once for the process.
bool RegisterWidgetClasses(HINSTANCE instance);

// A speed button's picture: a bitmap holding the normal and, when `halves` is 2, the disabled
// picture side by side. The colour of its bottom-left pixel is transparent.
struct ButtonPicture {
  HBITMAP bitmap = nullptr;
  int halves = 1;
};

// Gives a speed button its picture (the button does not own it).
void SetButtonPicture(HWND button, const ButtonPicture* picture);

// Places a top-level window in the middle of the screen, left and top no less than 0.
void CentreOnScreen(HWND window);

// The size of a label's text in the given font.
SIZE TextSize(HWND label, HFONT font, const char* text);

// Panels forward the notifications of their children to the top-level window, so that all
// commands reach one window procedure.
HWND RootOf(HWND window);

}  // namespace clockagent::ui
