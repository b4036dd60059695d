// Editing rules of the interval field's mask.
#include "ui/interval_mask.h"

namespace clockagent::ui {
namespace {

constexpr char kBlank = '_';
constexpr bool kDigit[kMaskLength] = {true, true, false, true, true, false, true, true};
constexpr bool kRequired[kMaskLength] = {false, true, false, false, true, false, true, true};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int NextDigit(int pos) {
  while (pos < kMaskLength && !kDigit[pos]) ++pos;
  return pos;
}

char& At(MaskedText& field, int pos) { return field.text[static_cast<std::size_t>(pos)]; }

void Caret(MaskedText& field, int pos) { field.start = field.end = pos; }

// Blanks the digit positions of the selection and leaves the caret at its start.
void ClearSelection(MaskedText& field) {
  for (int i = field.start; i < field.end && i < kMaskLength; ++i) {
    if (kDigit[i]) At(field, i) = kBlank;
  }
  Caret(field, field.start);
}

// Puts `digit` into the first digit position at or after the caret; false when none is left.
bool Put(MaskedText& field, char digit) {
  const int pos = NextDigit(field.start);
  if (pos >= kMaskLength) return false;
  At(field, pos) = digit;
  Caret(field, NextDigit(pos + 1));
  return true;
}

}  // namespace

bool TypeDigit(MaskedText& field, char digit) {
  if (!IsDigit(digit)) return false;
  MaskedText edited = field;
  ClearSelection(edited);
  if (!Put(edited, digit)) return false;
  field = edited;
  return true;
}

void Erase(MaskedText& field, bool backward) {
  if (field.start != field.end) {
    ClearSelection(field);
    return;
  }
  int pos = field.start;
  if (backward) {
    do --pos;
    while (pos >= 0 && !kDigit[pos]);
    if (pos < 0) return;
  } else if (pos >= kMaskLength || !kDigit[pos]) {
    return;
  }
  At(field, pos) = kBlank;
  Caret(field, pos);
}

bool Paste(MaskedText& field, const std::string& clipboard) {
  MaskedText edited = field;
  ClearSelection(edited);
  bool any = false;
  for (char c : clipboard) {
    if (c == ' ' || c == ':') continue;
    if (!IsDigit(c) || !Put(edited, c)) return false;
    any = true;
  }
  if (!any) return false;
  field = edited;
  return true;
}

std::string Masked(const char* text) {
  std::string s = kMaskTemplate;
  for (int i = 0; i < kMaskLength && text[i] != '\0'; ++i) {
    if (kDigit[i]) s[static_cast<std::size_t>(i)] = IsDigit(text[i]) ? text[i] : kBlank;
  }
  return s;
}

int FirstBlankRequired(const std::string& text) {
  for (int i = 0; i < kMaskLength; ++i) {
    if (kRequired[i] && text[static_cast<std::size_t>(i)] == kBlank) return i;
  }
  return -1;
}

}  // namespace clockagent::ui
