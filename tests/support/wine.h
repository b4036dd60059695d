// For Windows test programs run under wine, where they may touch what they must not on a real
// Windows machine (the clock, the program's own registry key).
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

#include "settings/settings_store.h"

namespace clockagent::test {

inline bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A value of the program's key as the registry holds it: "REG_SZ:text", "missing", or
// "type N" for a value of another type.
inline std::string StoredSetting(const char* name) {
  char text[64] = {};
  DWORD size = sizeof text - 1;
  DWORD type = 0;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, kSettingsKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, text,
                   &size) != ERROR_SUCCESS) {
    return "missing";
  }
  if (type == REG_SZ) return std::string("REG_SZ:") + text;
  return "type " + std::to_string(type);
}

// Writes a value of the program's key; false when the registry refused.
inline bool PutSetting(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool written =
      RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}

inline bool PutSettingText(const char* name, const char* text, DWORD type = REG_SZ) {
  return PutSetting(name, type, text, static_cast<DWORD>(std::strlen(text) + 1));
}

}  // namespace clockagent::test
