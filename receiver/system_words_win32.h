// The system's own words for an error code, as the ports and the record tell their failures.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace clockagent {

// FormatMessage's text for `error` on one line, without its line break, into `text`: it goes into
// the record and the service's state. "error N" when the system has no text for it.
void SystemWords(DWORD error, char* text, std::size_t size);
// The same, as a string.
std::string SystemWords(DWORD error);

}  // namespace clockagent
