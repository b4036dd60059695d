// The service manager's side of the ClockAgent service: registering, removing and finding it, and
// asking it for its state or to start or stop its updates. What to print is the caller's.
#pragma once

#include <string>

#include "service/service_state.h"

namespace clockagent {

enum class ServiceInstall {
  Registered,          // newly, with its description and rights
  AlreadyInstalled,
  NotAllowed,          // the service manager refused: not an administrator
  SettingsNotAllowed,  // the settings key's access could not be changed: not an administrator
  CannotRegister,
  CannotOpen,          // registered before, but it could not be opened
};

// Registers the service to run "<this program> service run" as LocalService, starting with
// Windows; lets that account keep its settings; makes the record's folder and the Event Log source.
ServiceInstall InstallService();

// Starts the registered service and waits up to ten seconds for it to run. False when it did not.
bool RunInstalledService();

enum class ServiceRemoval { Removed, NoManager, NotInstalled, NotAllowed, CannotDelete };

// Stops the service (waiting up to twenty seconds) and deletes it.
ServiceRemoval RemoveService();

enum class ServicePresence { Running, NotRunning, NotInstalled, NoManager };

ServicePresence FindService();

enum class ControlAnswer { Done, NotAllowed, NotInstalled, NotRunning, NoAnswer, Refused };

// Start (with the stored settings, as the service itself starts with them) or Stop of the
// service's updates, through the administrators' pipe. For Refused, `*refusal` says why.
ControlAnswer ControlUpdates(ServiceRequest request, std::string* refusal);

// The running service's state through its state pipe. False when it did not tell it.
bool AskServiceState(ServiceState* state);

}  // namespace clockagent
