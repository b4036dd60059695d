// The settings store on Windows: string values in the registry.
#include <windows.h>

#include <string>

#include "settings/registry_store.h"

namespace clockagent {
namespace {

HKEY RootKey(StoreRoot root) {
  switch (root) {
    case StoreRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
  }
  return HKEY_LOCAL_MACHINE;
}

class RegistryKey final : public StoreKey {
 public:
  explicit RegistryKey(HKEY key) : key_(key) {}
  ~RegistryKey() override { RegCloseKey(key_); }

  std::string ReadString(const char* name) override {
    DWORD type = 0;
    DWORD size = 0;
    LONG result = RegQueryValueExA(key_, name, nullptr, &type, nullptr, &size);
    if (result == ERROR_FILE_NOT_FOUND) return std::string();
    if (result != ERROR_SUCCESS) throw StoreError("cannot read a registry value");
    if (type != REG_SZ && type != REG_EXPAND_SZ) throw StoreError("not a string value");
    std::string text(size, '\0');
    result = RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &size);
    if (result != ERROR_SUCCESS) throw StoreError("cannot read a registry value");
    text.resize(std::min<std::size_t>(size, text.size()));
    const std::size_t end = text.find('\0');  // the stored terminator, if any
    if (end != std::string::npos) text.resize(end);
    return text;
  }

  void WriteString(const char* name, const char* text) override {
    const std::string value = text;
    if (RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS) {
      throw StoreError("cannot write a registry value");
    }
  }

 private:
  HKEY key_;
};

class RegistryStore final : public SettingsStore {
 public:
  explicit RegistryStore(bool readOnly) : readOnly_(readOnly) {}

  std::unique_ptr<StoreKey> OpenKey(StoreRoot root, const char* path) override {
    HKEY key = nullptr;
    // Only the rights the store uses: the service's own account is granted these and no more;
    // a reader asks for what every account has on the key.
    const LONG result =
        readOnly_ ? RegOpenKeyExA(RootKey(root), path, 0, KEY_QUERY_VALUE, &key)
                  : RegCreateKeyExA(RootKey(root), path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return nullptr;
    return std::make_unique<RegistryKey>(key);
  }

 private:
  const bool readOnly_;
};

}  // namespace

std::unique_ptr<SettingsStore> NewRegistryStore() { return std::make_unique<RegistryStore>(false); }

std::unique_ptr<SettingsStore> NewRegistryReader() { return std::make_unique<RegistryStore>(true); }

}  // namespace clockagent
