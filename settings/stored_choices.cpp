// The stored settings as the choices of an update cycle or a reference clock.
#include "settings/stored_choices.h"

#include <iterator>

namespace clockagent {

bool ApplyStoredChoices(SettingsStore& store, CycleChoices* choices) {
  StoredSettings stored;
  const bool found = LoadSettings(store, &stored);
  if (found) {
    if (stored.portNumber) choices->port.number = *stored.portNumber;
    for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
      if (stored.lineIndex[i]) choices->line.*kLineLists[i].index = *stored.lineIndex[i];
    }
    if (stored.intervalSeconds) choices->intervalMs = std::int64_t{*stored.intervalSeconds} * 1000;
    if (stored.timeType) choices->timeType = *stored.timeType;
  }
  choices->pulse = LoadPulse(store);
  choices->discipline = LoadDiscipline(store);
  choices->protocol = LoadProtocol(store);
  return found;
}

}  // namespace clockagent
