// The interval field: "dd hh:mm" under the mask "!90 90:00;1;_".
#pragma once

#include <windows.h>

#include <string>

namespace clockagent::ui {

// Turns an EDIT control into the interval field: eight positions, the space and colon fixed,
// digits only, "_" for a blank, whether typed, erased, cut or pasted; Esc puts back the text it
// had when the edit began (the focus coming from another control of its window); moving the
// focus to another control of its window after a change, with a required digit blank, beeps,
// shows "Invalid input value.  Use escape key to abandon changes." and puts the focus back on
// the first blank required digit.
void MakeIntervalField(HWND edit);

// The text as the program reads it, two digits in every field: "_6 06:00" reads "06 06:00".
std::string IntervalFieldText(HWND edit);
void SetIntervalFieldText(HWND edit, const char* text);

constexpr char kInvalidInputMessage[] =
    "Invalid input value.  Use escape key to abandon changes.";

}  // namespace clockagent::ui
