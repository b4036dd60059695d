// The system's own words for an error code.
#include "receiver/system_words_win32.h"

#include <cctype>
#include <cstdio>

namespace clockagent {

void SystemWords(DWORD error, char* text, std::size_t size) {
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, static_cast<DWORD>(size), nullptr);
  if (length == 0) {
    const int printed = std::snprintf(text, size, "error %lu", error);
    length = printed > 0 ? static_cast<DWORD>(printed) : 0;
  }
  if (length >= size) length = static_cast<DWORD>(size - 1);
  while (length > 0 && std::isspace(static_cast<unsigned char>(text[length - 1]))) --length;
  text[length] = '\0';
  for (DWORD i = 0; i < length; ++i) {
    if (std::iscntrl(static_cast<unsigned char>(text[i]))) text[i] = ' ';
  }
}

std::string SystemWords(DWORD error) {
  char text[256];
  SystemWords(error, text, sizeof text);
  return text;
}

}  // namespace clockagent
