// The service manager's side of the ClockAgent service: registering, removing and finding it, and
// asking it for its state or to start or stop its updates. What to print is the caller's.
#pragma once

#include <string>
#include <vector>

#include "record/service_sid_win32.h"
#include "service/service_pipes_win32.h"
#include "service/service_state.h"

namespace clockagent {

enum class ServiceInstall {
  Registered,          // newly, with its description and rights
  AlreadyInstalled,
  NotAllowed,          // the service manager refused: not an administrator
  SettingsNotAllowed,  // the settings key's access could not be changed: not an administrator
  CannotRegister,
  CannotOpen,          // registered before, but it could not be opened
  UnsafeFolder,        // other users may change the program or its folder, and so replace it
};

// Registers the service to run "<this program> service run" as LocalService, starting with
// Windows, with a SID of its own (NT SERVICE\<service name>) in its token; lets that SID alone
// read and write the values of the settings key; makes the record's folder and the Event Log
// source.
ServiceInstall InstallService();

// Starts the registered service and waits up to ten seconds for it to run. False when it did not.
bool RunInstalledService();

enum class ServiceRemoval { Removed, NoManager, NotInstalled, NotAllowed, CannotDelete };

// Stops the service (waiting up to twenty seconds) and deletes it, and takes its SID's grant on
// the settings key away.
ServiceRemoval RemoveService();

enum class ServicePresence { Running, NotRunning, NotInstalled, NoManager };

ServicePresence FindService();
// The process id of the running ClockAgent service; 0 when it does not run.
DWORD ServiceProcessId();

enum class ControlAnswer {
  Done,
  NotAllowed,
  NotInstalled,
  NotRunning,
  NoAnswer,
  Refused,
  NotTheService,  // another process holds the pipe's name: nothing was asked of it
};

// Start (with the stored settings, as the service itself starts with them) or Stop of the
// service's updates, through the administrators' pipe. For Refused, `*refusal` says why.
ControlAnswer ControlUpdates(ServiceRequest request, std::string* refusal);

// The running service's state through its state pipe: Answered with `*state`, or why not
// (a reply that is not a state is Failed).
PipeAnswer AskServiceState(ServiceState* state);

}  // namespace clockagent
