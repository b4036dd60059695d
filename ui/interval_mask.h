// The interval field's mask "!90 90:00;1;_" as editing rules on its eight positions, apart from
// any window: digits only in digit positions, the space and colon fixed, "_" for a blank.
#pragma once

#include <string>

namespace clockagent::ui {

constexpr int kMaskLength = 8;
constexpr char kMaskTemplate[] = "__ __:__";

// What the field shows and its selection: positions [start, end), a caret where they are equal.
struct MaskedText {
  std::string text = kMaskTemplate;
  int start = 0;
  int end = 0;
};

// Typing, erasing and pasting as the mask allows. Typing and pasting replace the selection; each
// returns false and leaves the field as it was when the mask refuses the edit (the field then
// beeps). A digit goes into the first digit position at or after the caret; the caret passes
// over the fixed characters.
bool TypeDigit(MaskedText& field, char digit);
// Backspace (the digit before the caret) or Delete (the digit at it); either clears a selection.
void Erase(MaskedText& field, bool backward);
// Each digit of `clipboard` as if typed, the mask's own space and colon passed over; refused
// whole when it holds anything else, no digit, or more digits than the positions left.
bool Paste(MaskedText& field, const std::string& clipboard);

// The text with the characters that are not the mask's (a stored or typed-in text) blanked.
std::string Masked(const char* text);
// The first required digit position that is blank, or -1.
int FirstBlankRequired(const std::string& text);

}  // namespace clockagent::ui
