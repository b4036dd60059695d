// The interval field's mask on its own: what typing, erasing and pasting make of the text and
// where they leave the caret. "|" marks the caret, "[...]" a selection.
#include <gtest/gtest.h>

#include <string>

#include "ui/interval_mask.h"

namespace clockagent::ui {
namespace {

MaskedText Parse(const std::string& marked) {
  MaskedText field;
  field.text.clear();
  for (char c : marked) {
    const int here = static_cast<int>(field.text.size());
    if (c == '|') {
      field.start = field.end = here;
    } else if (c == '[') {
      field.start = here;
    } else if (c == ']') {
      field.end = here;
    } else {
      field.text += c;
    }
  }
  return field;
}

std::string Marked(const MaskedText& field) {
  std::string s = field.text;
  if (field.start == field.end) return s.insert(static_cast<std::size_t>(field.start), "|");
  s.insert(static_cast<std::size_t>(field.end), "]");
  return s.insert(static_cast<std::size_t>(field.start), "[");
}

enum class Edit { Type, Backspace, Delete, Paste };

struct Case {
  const char* before;
  Edit edit;
  const char* input;  // the key typed, or the clipboard's text
  const char* after;  // as before when refused
  bool taken;
};

TEST(IntervalMaskTest, EditsKeepTheMask) {
  const Case cases[] = {
      {"|00 06:00", Edit::Type, "1", "1|0 06:00", true},
      {"00| 06:00", Edit::Type, "7", "00 7|6:00", true},  // over the fixed space
      {"00 06|:00", Edit::Type, "3", "00 06:3|0", true},
      {"00 06:0|0", Edit::Type, "9", "00 06:09|", true},
      {"00 06:00|", Edit::Type, "1", "00 06:00|", false},  // no position left
      {"|00 06:00", Edit::Type, "A", "|00 06:00", false},
      {"[00 06]:00", Edit::Type, "1", "1|_ __:00", true},  // over a selection
      {"00[ ]06:00", Edit::Type, "5", "00 5|6:00", true},
      {"00 0|6:00", Edit::Backspace, "", "00 |_6:00", true},
      {"00 |06:00", Edit::Backspace, "", "0|_ 06:00", true},  // over the fixed space
      {"|00 06:00", Edit::Backspace, "", "|00 06:00", true},
      {"|00 06:00", Edit::Delete, "", "|_0 06:00", true},
      {"00 06|:00", Edit::Delete, "", "00 06|:00", true},  // the colon stays
      {"00 [06:0]0", Edit::Delete, "", "00 |__:_0", true},
      {"[00 06:00]", Edit::Backspace, "", "|__ __:__", true},
      {"|00 06:00", Edit::Paste, "0130", "01 30:|00", true},
      {"|__ __:__", Edit::Paste, "01 07:30", "01 07:30|", true},
      {"00 [06]:00", Edit::Paste, "12", "00 12:|00", true},
      {"|00 06:00", Edit::Paste, "1234567", "|00 06:00", false},  // more digits than positions
      {"00 06:0|0", Edit::Paste, "45", "00 06:0|0", false},
      {"|00 06:00", Edit::Paste, "12a", "|00 06:00", false},
      {"|00 06:00", Edit::Paste, "1\r\n", "|00 06:00", false},
      {"|00 06:00", Edit::Paste, " :", "|00 06:00", false},  // no digit
      {"[00 06:00]", Edit::Paste, "", "[00 06:00]", false},
  };
  for (const Case& c : cases) {
    MaskedText field = Parse(c.before);
    bool taken = true;
    switch (c.edit) {
      case Edit::Type:
        taken = TypeDigit(field, c.input[0]);
        break;
      case Edit::Backspace:
      case Edit::Delete:
        Erase(field, c.edit == Edit::Backspace);
        break;
      case Edit::Paste:
        taken = Paste(field, c.input);
        break;
    }
    EXPECT_EQ(Marked(field), c.after) << c.before << " with \"" << c.input << "\"";
    EXPECT_EQ(taken, c.taken) << c.before << " with \"" << c.input << "\"";
  }
}

TEST(IntervalMaskTest, TextsAreMaskedAndCheckedForBlankRequiredDigits) {
  EXPECT_EQ(Masked("01 07:30"), "01 07:30");
  EXPECT_EQ(Masked("0a-07x3"), "0_ 07:3_");
  EXPECT_EQ(Masked(""), "__ __:__");
  EXPECT_EQ(FirstBlankRequired("_0 _6:00"), -1);  // the first digit of days and hours may be blank
  EXPECT_EQ(FirstBlankRequired("0_ 06:00"), 1);
  EXPECT_EQ(FirstBlankRequired("00 0_:__"), 4);
  EXPECT_EQ(FirstBlankRequired("00 06:0_"), 7);
}

}  // namespace
}  // namespace clockagent::ui
