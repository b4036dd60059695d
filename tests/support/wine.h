// Whether this Windows test program runs under wine, where it may touch what it must not on a
// real Windows machine (the clock, the program's own registry key).
#pragma once

#include <windows.h>

namespace clockagent::test {

inline bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace clockagent::test
