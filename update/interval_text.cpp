// The interval between updates as text and as time.
#include "update/interval_text.h"

#include <cctype>
#include <cstdio>

namespace clockagent {

bool ScanDecimal(const char*& text, std::int64_t* value) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  constexpr std::int64_t kHuge = 1000000000;  // beyond any count read here; stops the growth
  std::int64_t v = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    if (v < kHuge) v = v * 10 + (*p - '0');
  }
  *value = negative ? -v : v;
  text = p;
  return true;
}

std::int64_t IntervalMilliseconds(const char* text) {
  constexpr char kShape[] = "99 99:99";  // 9: a decimal digit
  int digits[6];
  int n = 0;
  for (int i = 0; i < 8; ++i) {
    const char c = text[i];
    if (kShape[i] != '9') {
      if (c != kShape[i]) return -1;
    } else if (c >= '0' && c <= '9') {
      digits[n++] = c - '0';
    } else {
      return -1;  // also the end of a text that is too short
    }
  }
  if (text[8] != '\0') return -1;
  const std::int64_t days = digits[0] * 10 + digits[1];
  const std::int64_t hours = digits[2] * 10 + digits[3];
  const std::int64_t minutes = digits[4] * 10 + digits[5];
  return (days * 86400 + hours * 3600 + minutes * 60) * 1000;
}

bool ParseLatency(const char* text, int* ms) {
  const char* p = text;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (*p == '\0') return false;
  int value = 0;
  for (; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > kLongestLatencyMs) return false;
  }
  *ms = negative ? -value : value;
  return true;
}

void FormatIntervalText(std::uint32_t seconds, char (&text)[kIntervalTextSize]) {
  std::snprintf(text, sizeof text, "%02u %02u:%02u", seconds / 86400 % 1000u,
                seconds % 86400 / 3600, seconds % 3600 / 60);
}

}  // namespace clockagent
