// The settings store on Windows: the registry.
#pragma once

#include <memory>

#include "settings/settings_store.h"

namespace clockagent {

std::unique_ptr<SettingsStore> NewRegistryStore();

// The settings for a process that may only read them (Windows Time's provider, as LocalService):
// the key opened for reading alone, never created; a write fails (StoreError).
std::unique_ptr<SettingsStore> NewRegistryReader();

}  // namespace clockagent
