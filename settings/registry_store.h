// The settings store on Windows: the registry.
#pragma once

#include <memory>

#include "settings/settings_store.h"

namespace clockagent {

std::unique_ptr<SettingsStore> NewRegistryStore();

}  // namespace clockagent
