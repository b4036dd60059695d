// The stored settings as the choices of an update cycle or a reference clock: what the service
// and Windows Time's provider take from the store, read in one place.
#pragma once

#include "settings/settings_store.h"
#include "update/cycle_front_end.h"

namespace clockagent {

// The stored port, line settings, interval and time type over `choices` (each one only where it
// is stored and usable; on a first run none is), and the pulse, discipline and protocol. True
// when the store holds settings (LoadSettings). The latency and the limit are read where they are
// used (LoadLatency, LoadMaxCorrection), since nothing but the user writes them.
bool ApplyStoredChoices(SettingsStore& store, CycleChoices* choices);

}  // namespace clockagent
