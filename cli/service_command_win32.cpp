// clockagent service: the Windows service that keeps the clock set with nobody logged on, and the
// commands that install, remove, start, stop and ask it.
#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/options.h"
#include "update/timer_loop.h"
#include "receiver/system_serial_port.h"
#include "record/event_log_win32.h"
#include "record/record_folder_win32.h"
#include "record/update_record.h"
#include "service/service_pipes_win32.h"
#include "service/service_state.h"
#include "settings/registry_store.h"
#include "update/clock_setter.h"
#include "update/update_cycle.h"
#include "update/windows_time.h"

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

constexpr char kDisplayName[] = "ClockAgent";
constexpr char kDescription[] =
    "Keeps the system clock set from a GPS timing receiver on a serial port.";
constexpr char kServiceAccount[] = "NT AUTHORITY\\LocalService";
constexpr int kNotInstalled = 3;

int Fail(const char* command, const std::string& message, int status = 1) {
  std::fprintf(stderr, "clockagent service %s: %s\n", command, message.c_str());
  return status;
}

std::string NeedsAdministrator(const char* what) {
  return std::string("an administrator must ") + what +
         " (run it in a console opened with \"Run as administrator\")";
}

// Closes a service-manager handle when it goes.
struct ServiceHandle {
  explicit ServiceHandle(SC_HANDLE h = nullptr) : handle(h) {}
  ~ServiceHandle() {
    if (handle != nullptr) CloseServiceHandle(handle);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE handle;
};

// Waits up to `seconds` for the service to reach `state`.
bool WaitForState(SC_HANDLE service, DWORD state, int seconds) {
  SERVICE_STATUS status{};
  for (int i = 0; i < seconds * 10; ++i) {
    if (!QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == state) return true;
    Sleep(100);
  }
  return false;
}

// The service account may read and write the settings key (it saves them at Start and keeps its
// schedule's state there); everything else about the key stays as it is.
bool LetTheServiceKeepItsSettings() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, READ_CONTROL | WRITE_DAC,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  PACL current = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool done = false;
  if (GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                      nullptr, &descriptor) == ERROR_SUCCESS) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    if (CreateWellKnownSid(WinLocalServiceSid, nullptr, sid, &sidSize)) {
      EXPLICIT_ACCESSA access{};
      access.grfAccessPermissions = KEY_ALL_ACCESS;
      access.grfAccessMode = GRANT_ACCESS;
      access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
      access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
      access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
      access.Trustee.ptstrName = reinterpret_cast<LPSTR>(sid);
      PACL updated = nullptr;
      if (SetEntriesInAclA(1, &access, current, &updated) == ERROR_SUCCESS) {
        done = SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                               updated, nullptr) == ERROR_SUCCESS;
        LocalFree(updated);
      }
    }
    LocalFree(descriptor);
  }
  RegCloseKey(key);
  return done;
}

int Install() {
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, sizeof program);
  const std::string command = std::string("\"") + program + "\" service run";

  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (manager.handle == nullptr) return Fail("install", NeedsAdministrator("install the service"));
  if (!LetTheServiceKeepItsSettings()) {
    return Fail("install", NeedsAdministrator("install the service") + ": the settings key");
  }
  // Its record's folder, and its Event Log source with this program as the message file.
  MakeRecordFolder();
  RegisterEventSourceFile(program);
  ServiceHandle service(CreateServiceA(manager.handle, kServiceName, kDisplayName,
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                       nullptr, nullptr, nullptr, kServiceAccount, nullptr));
  if (service.handle == nullptr) {
    if (GetLastError() != ERROR_SERVICE_EXISTS) return Fail("install", "cannot register the service");
    service.handle = OpenServiceA(manager.handle, kServiceName, SERVICE_ALL_ACCESS);
    if (service.handle == nullptr) return Fail("install", "cannot open the installed service");
    std::printf("the ClockAgent service was installed already\n");
  } else {
    SERVICE_DESCRIPTIONA description{const_cast<char*>(kDescription)};
    ChangeServiceConfig2A(service.handle, SERVICE_CONFIG_DESCRIPTION, &description);
    // Of LocalService's rights it keeps only the two it needs; a service manager that cannot
    // narrow them (wine) leaves the account's.
    char privileges[] = "SeSystemtimePrivilege\0SeChangeNotifyPrivilege\0";
    SERVICE_REQUIRED_PRIVILEGES_INFOA required{privileges};
    ChangeServiceConfig2A(service.handle, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required);
    std::printf("installed the ClockAgent service\n");
  }
  if (!StartServiceA(service.handle, 0, nullptr) &&
      GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
    return Fail("install", "installed, but the service did not start");
  }
  if (!WaitForState(service.handle, SERVICE_RUNNING, 10)) {
    return Fail("install", "installed, but the service did not start");
  }
  std::printf("the ClockAgent service runs\n");
  return 0;
}

int Remove() {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.handle == nullptr) return Fail("remove", "cannot reach the service manager");
  ServiceHandle service(OpenServiceA(manager.handle, kServiceName,
                                     DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (service.handle == nullptr) {
    if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
      return Fail("remove", "the ClockAgent service is not installed", kNotInstalled);
    }
    return Fail("remove", NeedsAdministrator("remove the service"));
  }
  SERVICE_STATUS status{};
  if (ControlService(service.handle, SERVICE_CONTROL_STOP, &status)) {
    WaitForState(service.handle, SERVICE_STOPPED, 20);
  }
  if (!DeleteService(service.handle) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
    return Fail("remove", "cannot delete the service");
  }
  std::printf("removed the ClockAgent service\n");
  return 0;
}

// Whether the service is installed (and running).
int QueryInstalled(bool* running) {
  *running = false;
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.handle == nullptr) return 1;
  ServiceHandle service(OpenServiceA(manager.handle, kServiceName, SERVICE_QUERY_STATUS));
  if (service.handle == nullptr) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? kNotInstalled : 1;
  SERVICE_STATUS status{};
  *running = QueryServiceStatus(service.handle, &status) && status.dwCurrentState == SERVICE_RUNNING;
  return 0;
}

// Start or Stop of the schedule, through the administrators' pipe.
int Control(const char* command, ServiceRequest request) {
  CycleChoices choices;
  if (request == ServiceRequest::Start) {
    // With the settings stored, as the service itself starts with them.
    std::unique_ptr<SettingsStore> store = NewRegistryStore();
    ServiceFront stored(*store);
    stored.Load();
    choices = stored.Choices();
  }
  std::string reply;
  switch (AskService(kControlPipeName, EncodeRequest(request, choices), &reply)) {
    case PipeAnswer::Answered: break;
    case PipeAnswer::AccessDenied:
      return Fail(command, NeedsAdministrator(request == ServiceRequest::Start
                                                  ? "start the service's updates"
                                                  : "stop the service's updates"));
    case PipeAnswer::NoService: {
      bool running = false;
      if (QueryInstalled(&running) == kNotInstalled) {
        return Fail(command, "the ClockAgent service is not installed", kNotInstalled);
      }
      return Fail(command, "the ClockAgent service is not running");
    }
    case PipeAnswer::Failed: return Fail(command, "the ClockAgent service did not answer");
  }
  if (reply != kOkReply) return Fail(command, reply.substr(reply.rfind(':') + 2));
  std::printf("%s the updates of the ClockAgent service\n",
              request == ServiceRequest::Start ? "started" : "stopped");
  return 0;
}

int Status() {
  bool running = false;
  const int installed = QueryInstalled(&running);
  if (installed == kNotInstalled) {
    std::printf("ClockAgent service: not installed\n");
    return kNotInstalled;
  }
  if (installed != 0) return Fail("status", "cannot reach the service manager");
  if (!running) {
    std::printf("ClockAgent service: installed, not running\n");
    return 1;
  }
  std::string reply;
  ServiceState state;
  if (AskService(kStatePipeName, EncodeRequest(ServiceRequest::State), &reply) !=
          PipeAnswer::Answered ||
      !DecodeState(reply, &state)) {
    std::printf("ClockAgent service: installed, running\n");
    return Fail("status", "the service did not tell its state");
  }
  std::printf("ClockAgent service: installed, running\nupdates: %s%s\n",
              state.started ? "On" : "Off", state.polling ? " (an update is in progress)" : "");
  if (!state.ended) {
    std::printf("last update: none yet\n");
    return 0;
  }
  std::printf("last update: %s at %s\n", StatusText(state.outcome), UtcText(state.endedNs).c_str());
  const std::size_t text = state.timeOfWeek.find_first_not_of(' ');
  if (text != std::string::npos) std::printf("time of week: %s\n", state.timeOfWeek.c_str() + text);
  if (state.offsetKnown) {
    std::printf("%s\n", OffsetText(state.offsetSeconds).c_str());
  }
  std::printf("successful updates / attempts: %d/%d\n", static_cast<int>(state.successes),
              static_cast<int>(state.attempts));
  return 0;
}

// The service itself, on the service manager's thread.
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

void Report(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = exitCode;
  status.dwWaitHint = waitHint;
  SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING, NO_ERROR, 3000);
      SetEvent(g_stopEvent);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// The update cycle with its port, timers and clock, the stored settings, and the two pipes, all
// on this one thread: it waits for the port, the pipes, its timers and the stop request at once.
class ServiceHost {
 public:
  ServiceHost() : engine_(*port_, timerUpdate_, timerPoll_, clock_, front_) {
    front_.Attach(engine_.cycle);
    engine_.cycle.SetSettingsSaver(&front_);
    front_.SetObserver([this](const AttemptResult& result) {
      if (!record_.Path().empty() && !record_.Append(result) && !recordNoted_) {
        recordNoted_ = true;  // said once; the updates go on
        events_.Note("ClockAgent cannot write its record " + record_.Path() +
                     "; the updates go on.");
      }
      events_.AttemptEnded(result);
    });
  }

  bool OpenPipes() {
    return statePipe_.Create(kStatePipeName, kStatePipeSecurity) &&
           controlPipe_.Create(kControlPipeName, kControlPipeSecurity);
  }

  void Run() {
    UpdateCycle& cycle = engine_.cycle;
    if (front_.Load()) Start();  // the schedule as the user last left it
    const ArrivalHandler arrival{[this](std::chrono::milliseconds timeout) { return Wait(timeout); },
                                 [&cycle] { cycle.BytesArrived(); }};
    RunTimers({{&timerPoll_, [&cycle] { cycle.Timer_DAROTimer(); }},
               {&timerUpdate_, [&cycle] { cycle.Timer_UpdateTimer(); }}},
              [this] { return stopping_; }, &arrival);
    cycle.Abandon();  // an attempt in progress ends without an outcome; its port is closed
  }

 private:
  // Waits for the stop request, a pipe's client, or what the cycle waits for at the port; true
  // when the port's bytes are to be read.
  bool Wait(std::chrono::milliseconds timeout) {
    UpdateCycle& cycle = engine_.cycle;
    HANDLE handles[4] = {g_stopEvent, statePipe_.Event(), controlPipe_.Event(), nullptr};
    DWORD count = 3;
    bool readAfterTimeout = false;
    const std::intptr_t arrival = cycle.WaitsForPacketStart() ? port_->ArrivalHandle() : -1;
    if (arrival != -1) {
      handles[count++] = reinterpret_cast<HANDLE>(arrival);
    } else if (cycle.Polling()) {
      timeout = std::min(timeout, kPacketReadInterval);
      readAfterTimeout = true;
    }
    const DWORD woke =
        WaitForMultipleObjects(count, handles, FALSE, static_cast<DWORD>(timeout.count()));
    switch (woke) {
      case WAIT_OBJECT_0:
        stopping_ = true;
        return false;
      case WAIT_OBJECT_0 + 1:
        statePipe_.Serve([this](const std::string& request) { return Answer(request, false); });
        return false;
      case WAIT_OBJECT_0 + 2:
        controlPipe_.Serve([this](const std::string& request) { return Answer(request, true); });
        return false;
      case WAIT_OBJECT_0 + 3:
        return true;
      default:
        return woke == WAIT_TIMEOUT && readAfterTimeout;
    }
  }

  // Starts the updates; Windows Time taking the clock from the network is said once a run.
  void Start() {
    engine_.cycle.StartUpdates();
    if (engine_.cycle.Started() && !windowsTimeNoted_ && WindowsTimeOverwrites()) {
      windowsTimeNoted_ = true;
      events_.Note(kWindowsTimeAdvice);
    }
  }

  std::string Answer(const std::string& text, bool administrator) {
    ServiceRequest request;
    CycleChoices choices;
    if (!DecodeRequest(text, &request, &choices)) return std::string(kRefusedReply) + "unknown request";
    UpdateCycle& cycle = engine_.cycle;
    switch (request) {
      case ServiceRequest::State:
        return EncodeState(front_.State());
      case ServiceRequest::Refresh:
        cycle.RefreshTime();
        return kOkReply;
      case ServiceRequest::Start:
      case ServiceRequest::Stop:
        if (!administrator) {
          return std::string(kRefusedReply) +
                 "only an administrator may start or stop the service's updates";
        }
        if (request == ServiceRequest::Stop) {
          cycle.StopUpdates();
          return kOkReply;
        }
        front_.Choose(choices);
        if (cycle.Started()) cycle.StopUpdates();  // Start takes the new settings afresh
        Start();
        if (!cycle.Started()) return std::string(kRefusedReply) + front_.TakeRefusal();
        return kOkReply;
    }
    return std::string(kRefusedReply) + "unknown request";
  }

  std::unique_ptr<SettingsStore> store_ = NewRegistryStore();
  ServiceFront front_{*store_};
  std::unique_ptr<SerialPort> port_ = NewSystemSerialPort();
  SystemClockSetter clock_;
  LoopTimer timerUpdate_{kDefaultUpdateIntervalMs, false};
  LoopTimer timerPoll_{kPollIntervalMs, true};
  UpdateEngine engine_;
  PipeServer statePipe_;
  PipeServer controlPipe_;
  UpdateRecord record_{RecordPath()};
  EventReporter events_;
  bool recordNoted_ = false;
  bool windowsTimeNoted_ = false;
  bool stopping_ = false;
};

void WINAPI ServiceMain(DWORD, LPSTR*) {
  g_statusHandle = RegisterServiceCtrlHandlerExA(kServiceName, Handler, nullptr);
  if (g_statusHandle == nullptr) return;
  Report(SERVICE_START_PENDING, NO_ERROR, 3000);
  g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  {
    ServiceHost host;
    if (!host.OpenPipes()) {
      Report(SERVICE_STOPPED, ERROR_ALREADY_EXISTS);
      return;
    }
    Report(SERVICE_RUNNING);
    host.Run();
  }
  Report(SERVICE_STOPPED);
}

int RunAsService() {
  char name[] = "ClockAgent";
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
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
  if (command == "run") return RunAsService();
  return Usage("service", "unknown command: " + command);
}

}  // namespace clockagent
