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
  std::int64_t fields[3] = {0, 0, 0};  // days, hours, minutes
  const char* p = text;
  if (ScanDecimal(p, &fields[0])) {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (ScanDecimal(p, &fields[1])) {
      while (std::isspace(static_cast<unsigned char>(*p))) ++p;
      if (*p == ':') {
        ++p;
        ScanDecimal(p, &fields[2]);
      }
    }
  }
  return (fields[0] * 86400 + fields[1] * 3600 + fields[2] * 60) * 1000;
}

void FormatIntervalText(std::uint32_t seconds, char (&text)[kIntervalTextSize]) {
  std::snprintf(text, sizeof text, "%02u %02u:%02u", seconds / 86400 % 1000u,
                seconds % 86400 / 3600, seconds % 3600 / 60);
}

}  // namespace clockagent
