// For Windows test programs run under wine, where they may touch what they must not on a real
// Windows machine (the clock, the program's own registry key).
#pragma once

#include <windows.h>

#include <cstring>
#include <functional>
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

// Waits up to `milliseconds` for the condition, looking every 50 ms.
inline bool WaitFor(const std::function<bool()>& condition, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 50) {
    if (condition()) return true;
    Sleep(50);
  }
  return condition();
}

// A file's whole text; "missing" when it cannot be opened.
inline std::string FileText(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "missing";
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

// A file of the build: beside the tests/ folder this test program runs from.
inline std::string BuildFile(const char* name) {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string p = path;
  p = p.substr(0, p.find_last_of("\\/"));  // tests/
  return p.substr(0, p.find_last_of("\\/")) + "\\" + name;
}

// Runs the build's clockagent.com with ARGS; its exit status.
inline int RunConsoleTool(const std::string& args) {
  std::string command = "\"" + BuildFile("clockagent.com") + "\" " + args;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, 30000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(code);
}

inline bool PutSettingText(const char* name, const char* text, DWORD type = REG_SZ) {
  return PutSetting(name, type, text, static_cast<DWORD>(std::strlen(text) + 1));
}

}  // namespace clockagent::test
