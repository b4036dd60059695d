// Our own controls (bevelled panels, labels, picture buttons) and the one builder that makes a
// window's controls from its layout table.
#pragma once

#include <windows.h>

#include <map>
#include <vector>

#include "ui/layout.h"

namespace clockagent::ui {

constexpr char kPanelClass[] = "ClockAgentPanel";
constexpr char kLabelClass[] = "ClockAgentLabel";
constexpr char kSpeedButtonClass[] = "ClockAgentSpeedButton";

// An opened drop-down list shows at most this many rows.
constexpr int kListRows = 8;

// Registers our control classes once for the process.
bool RegisterWidgetClasses(HINSTANCE instance);

// Layout pixels (96 dpi) in the screen's pixels.
int Scaled(int pixels);

// A font of the layouts: "MS Sans Serif" of the window's height, 13 px bold, or "Times New Roman"
// 16 px, as the row's look says.
HFONT CreateLayoutFont(unsigned look, int fontHeight);

// The layout row a control was built from; nullptr for any other window.
const ControlRow* RowOf(HWND control);

// The controls of one window, built from its layout. Owns the fonts and pictures they use, so it
// must outlive the window.
class Controls {
 public:
  Controls() = default;
  ~Controls();
  Controls(const Controls&) = delete;
  Controls& operator=(const Controls&) = delete;

  void Build(HINSTANCE instance, HWND window, const WindowLayout& layout);
  // nullptr for an id the layout does not have.
  HWND operator[](int id) const;

 private:
  HFONT FontFor(unsigned look, int fontHeight);

  std::map<int, HWND> byId_;
  std::map<unsigned, HFONT> fonts_;  // by the look's font flags
  std::vector<HBITMAP> bitmaps_;
  std::vector<HICON> icons_;
};

// The window system gives the focus of a window that becomes active to the window itself; this
// gives it back to the control that had it when the window was last left. Call on WM_ACTIVATE;
// true when it has set the focus (the message then needs no default handling).
bool KeepFocus(HWND window, WPARAM activation, HWND* saved);

// Places a top-level window in the middle of the screen, left and top no less than 0.
void CentreOnScreen(HWND window);

// Panels forward the notifications of their children to the top-level window, so that all
// commands reach one window procedure.
HWND RootOf(HWND window);

}  // namespace clockagent::ui
