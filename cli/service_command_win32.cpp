// clockagent service: installs, removes, starts, stops and asks the Windows service that keeps the
// clock set with nobody logged on (service/), and runs it when the service manager starts it.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/options.h"
#include "record/record_folder_win32.h"
#include "record/update_record.h"
#include "service/service_control_win32.h"
#include "service/service_main_win32.h"
#include "service/service_state.h"
#include "update/update_outcome.h"

namespace clockagent {
namespace {

const char kServiceHelp[] =
    "Usage: clockagent service install|remove|start|stop|status\n"
    "\n"
    "The ClockAgent service keeps the clock set from the receiver with nobody logged on: it runs\n"
    "the same updates as the window program, with the same stored settings, as LocalService (the\n"
    "least-privileged account that may set the clock), starting with Windows. The window program\n"
    "is then its front end. All but status need an administrator's console.\n"
    "\n"
    "  install   register the service and start it (its updates start at once)\n"
    "  remove    stop the service and delete it\n"
    "  start     start the updates inside the running service, with the stored settings\n"
    "  stop      stop the updates inside the running service (it keeps them stopped over a restart)\n"
    "  status    whether the service is installed and running, its updates On or Off, and the\n"
    "            last outcome with its time, time of week and counters\n"
    "\n"
    "Exit status: 0 when done (status: the service runs), 1 when it could not be done (status:\n"
    "installed but not running), 2 for bad usage, 3 when the service is not installed.\n";

constexpr int kNotInstalled = 3;
constexpr char kNotTheService[] =
    "another program, not the ClockAgent service, holds the service's pipe; nothing it says is "
    "believed";

int Fail(const char* command, const std::string& message, int status = 1) {
  std::fprintf(stderr, "clockagent service %s: %s\n", command, message.c_str());
  return status;
}

std::string NeedsAdministrator(const char* what) {
  return std::string("an administrator must ") + what +
         " (run it in a console opened with \"Run as administrator\")";
}

int Install() {
  switch (InstallService()) {
    case ServiceInstall::NotAllowed:
      return Fail("install", NeedsAdministrator("install the service"));
    case ServiceInstall::SettingsNotAllowed:
      return Fail("install", NeedsAdministrator("install the service") + ": the settings key");
    case ServiceInstall::CannotRegister:
      return Fail("install", "cannot register the service");
    case ServiceInstall::CannotOpen:
      return Fail("install", "cannot open the installed service");
    case ServiceInstall::UnsafeFolder:
      return Fail("install",
                  "other users may change this program or its folder, and so the service's program: "
                  "install ClockAgent under Program Files (its installer does) and install the "
                  "service from there");
    case ServiceInstall::AlreadyInstalled:
      std::printf("the ClockAgent service was installed already\n");
      break;
    case ServiceInstall::Registered:
      std::printf("installed the ClockAgent service\n");
      break;
  }
  if (!RunInstalledService()) return Fail("install", "installed, but the service did not start");
  std::printf("the ClockAgent service runs\n");
  return 0;
}

int Remove() {
  const ServiceRemoval removal = RemoveService();
  // Without the service its grant in the record's folder is no one's to keep.
  if (removal == ServiceRemoval::Removed || removal == ServiceRemoval::NotInstalled) {
    RevokeRecordFolderGrant();
  }
  switch (removal) {
    case ServiceRemoval::Removed:
      std::printf("removed the ClockAgent service\n");
      return 0;
    case ServiceRemoval::NoManager:
      return Fail("remove", "cannot reach the service manager");
    case ServiceRemoval::NotInstalled:
      return Fail("remove", "the ClockAgent service is not installed", kNotInstalled);
    case ServiceRemoval::NotAllowed:
      return Fail("remove", NeedsAdministrator("remove the service"));
    case ServiceRemoval::CannotDelete:
      break;
  }
  return Fail("remove", "cannot delete the service");
}

// Start or Stop of the schedule, through the administrators' pipe.
int Control(const char* command, ServiceRequest request) {
  const bool start = request == ServiceRequest::Start;
  std::string refusal;
  switch (ControlUpdates(request, &refusal)) {
    case ControlAnswer::Done:
      std::printf("%s the updates of the ClockAgent service\n", start ? "started" : "stopped");
      return 0;
    case ControlAnswer::NotAllowed:
      return Fail(command, NeedsAdministrator(start ? "start the service's updates"
                                                    : "stop the service's updates"));
    case ControlAnswer::NotInstalled:
      return Fail(command, "the ClockAgent service is not installed", kNotInstalled);
    case ControlAnswer::NotRunning:
      return Fail(command, "the ClockAgent service is not running");
    case ControlAnswer::NoAnswer:
      return Fail(command, "the ClockAgent service did not answer");
    case ControlAnswer::NotTheService:
      return Fail(command, kNotTheService);
    case ControlAnswer::Refused:
      break;
  }
  return Fail(command, refusal);
}

int Status() {
  switch (FindService()) {
    case ServicePresence::NotInstalled:
      std::printf("ClockAgent service: not installed\n");
      return kNotInstalled;
    case ServicePresence::NoManager:
      return Fail("status", "cannot reach the service manager");
    case ServicePresence::NotRunning:
      std::printf("ClockAgent service: installed, not running\n");
      return 1;
    case ServicePresence::Running:
      break;
  }
  ServiceState state;
  const PipeAnswer answer = AskServiceState(&state);
  if (answer != PipeAnswer::Answered) {
    std::printf("ClockAgent service: installed, running\n");
    return Fail("status", answer == PipeAnswer::NotTheService ? kNotTheService
                                                                : "the service did not tell its state");
  }
  std::printf("ClockAgent service: installed, running\nupdates: %s%s\n",
              state.started ? "On" : "Off", state.polling ? " (an update is in progress)" : "");
  if (!state.ended) {
    std::printf("last update: none yet\n");
    return 0;
  }
  std::printf("last update: %s at %s\n", StatusText(state.outcome), UtcText(state.endedNs).c_str());
  if (!state.reason.empty()) std::printf("%s\n", state.reason.c_str());
  const std::size_t text = state.timeOfWeek.find_first_not_of(' ');
  if (text != std::string::npos) std::printf("time of week: %s\n", state.timeOfWeek.c_str() + text);
  if (state.offsetKnown) {
    std::printf("%s\n", OffsetText(state.offsetSeconds).c_str());
  }
  if (state.disciplined) std::printf("held by the discipline at %s\n", RateText(state.ratePpm).c_str());
  std::printf("successful updates / attempts: %d/%d\n", static_cast<int>(state.successes),
              static_cast<int>(state.attempts));
  return 0;
}

int Run() {
  if (!RunAsService()) {
    return Fail("run", "only the service manager starts this; use 'clockagent service install'", 2);
  }
  return 0;
}

}  // namespace

int RunServiceCommand(int argc, char** argv) {
  if (argc != 1) {
    if (argc == 0) return Usage("service", "expects install, remove, start, stop or status");
    return Usage("service", std::string("expects one command: ") + argv[1]);
  }
  const std::string command = argv[0];
  if (command == "--help" || command == "-h") {
    std::fputs(kServiceHelp, stdout);
    return 0;
  }
  if (command == "install") return Install();
  if (command == "remove") return Remove();
  if (command == "start") return Control("start", ServiceRequest::Start);
  if (command == "stop") return Control("stop", ServiceRequest::Stop);
  if (command == "status") return Status();
  if (command == "run") return Run();
  return Usage("service", "unknown command: " + command);
}

}  // namespace clockagent
