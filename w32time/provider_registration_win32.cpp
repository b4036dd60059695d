// The provider's registration with Windows Time.
#include "w32time/provider_registration_win32.h"

#include <windows.h>

namespace clockagent {
namespace {

ProviderChange ChangeOf(LSTATUS status) {
  if (status == ERROR_SUCCESS) return ProviderChange::Done;
  return status == ERROR_ACCESS_DENIED ? ProviderChange::NotAllowed : ProviderChange::Failed;
}

}  // namespace

ProviderPresence FindProvider(std::string* dllName) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProviderKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return ProviderPresence::NotRegistered;
  }
  DWORD enabled = 0;
  DWORD size = sizeof enabled;
  const bool on = RegGetValueA(key, nullptr, "Enabled", RRF_RT_REG_DWORD, nullptr, &enabled,
                               &size) == ERROR_SUCCESS &&
                  enabled == 1;
  if (dllName != nullptr) {
    char path[MAX_PATH] = {};
    size = sizeof path;
    dllName->clear();
    if (RegGetValueA(key, nullptr, "DllName", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, path, &size) == ERROR_SUCCESS) {
      *dllName = path;
    }
  }
  RegCloseKey(key);
  return on ? ProviderPresence::Enabled : ProviderPresence::Disabled;
}

ProviderChange RegisterProvider(const std::string& dllPath) {
  HKEY key;
  const LSTATUS created = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProviderKey, 0, nullptr, 0,
                                          KEY_SET_VALUE, nullptr, &key, nullptr);
  if (created != ERROR_SUCCESS) return ChangeOf(created);
  const DWORD one = 1;
  LSTATUS status = RegSetValueExA(key, "DllName", 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(dllPath.c_str()),
                                  static_cast<DWORD>(dllPath.size() + 1));
  // Enabled last: Windows Time never finds an enabled key without its DLL.
  for (const char* name : {"InputProvider", "Enabled"}) {
    if (status == ERROR_SUCCESS) {
      status = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                              sizeof one);
    }
  }
  RegCloseKey(key);
  return ChangeOf(status);
}

ProviderChange UnregisterProvider() {
  const LSTATUS status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProviderKey);
  if (status == ERROR_FILE_NOT_FOUND) return ProviderChange::NotRegistered;
  return ChangeOf(status);
}

}  // namespace clockagent
