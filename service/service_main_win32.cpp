// The ClockAgent service: ServiceMain, its control handler, and the loop that runs the updates
// and answers the pipes on the one thread.
#include "service/service_main_win32.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "receiver/system_serial_port.h"
#include "record/recorder_win32.h"
#include "service/service_pipes_win32.h"
#include "service/service_state.h"
#include "settings/registry_store.h"
#include "update/clock_setter.h"
#include "update/timer_loop.h"
#include "update/update_cycle.h"
#include "update/windows_time.h"
#include "w32time/provider_registration_win32.h"

namespace clockagent {
namespace {

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
// A pipe whose name another process holds is tried again this often.
constexpr std::chrono::seconds kPipeRetry{5};
constexpr std::chrono::seconds kUserRefreshSpacing{30};
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
    front_.SetWarner([this](const char* warning) { recorder_.Note(warning); });
    front_.SetObserver([this](const AttemptResult& result) {
      if (!recorder_.AttemptEnded(result)) {  // said once; the updates go on
        recorder_.Note("ClockAgent cannot write its record " + recorder_.RecordPath() + ": " +
                       recorder_.RecordFailure() + "; the updates go on.");
      }
    });
  }

  // Makes whichever of the two pipes is missing. A name another process holds already is said
  // once in the Event Log, and the pipes are tried again every kPipeRetry meanwhile: the updates
  // run all the same.
  void OpenPipes() {
    DWORD stateError = NO_ERROR, controlError = NO_ERROR;
    const bool open = (statePipe_.IsOpen() || statePipe_.Open(&stateError)) &&
                      (controlPipe_.IsOpen() || controlPipe_.Open(&controlError));
    pipesRetry_ = open ? std::chrono::steady_clock::time_point::max()
                       : std::chrono::steady_clock::now() + kPipeRetry;
    if (open || pipesTold_) return;
    pipesTold_ = true;
    const DWORD error = stateError != NO_ERROR ? stateError : controlError;
    recorder_.Note(std::string("ClockAgent cannot make its pipe ") +
                   (stateError != NO_ERROR ? kStatePipeName : kControlPipeName) + " (error " +
                   std::to_string(error) +
                   (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY
                        ? ": another program holds the name" : "") +
                   "); the updates go on, and the pipe is tried again every few seconds.");
  }

  void Run() {
    UpdateCycle& cycle = engine_.cycle;
    OpenPipes();
    LastAttempt last;
    // Not forgotten at a restart.
    if (recorder_.ReadLast(&last)) front_.Remember(last);
    if (front_.Load()) {  // the schedule as the user last left it...
      // ...unless Windows Time keeps the clock through the provider: not set beside it.
      if (FindProvider() == ProviderPresence::Enabled) {
        recorder_.Note(kProviderRefusal);
      } else {
        Start();
      }
    }
    const ArrivalHandler arrival{[this](std::chrono::milliseconds timeout) { return Wait(timeout); },
                                 [&cycle] { cycle.BytesArrived(); }};
    RunTimers({{&timerPoll_, [&cycle] { cycle.Timer_DAROTimer(); }},
               {&timerUpdate_, [&cycle] { cycle.Timer_UpdateTimer(); }}},
              [this] { return stopping_; }, &arrival);
    cycle.Abandon();  // an attempt in progress ends without an outcome; its port is closed
  }

 private:
  // Waits for the stop request, the port as PortWaitFor says, or a step of a pipe's client; true
  // when the port's bytes are to be read. The pipes' steps never wait for a client: one that
  // is slow only holds its own instance, for kPipeClientTime at most.
  bool Wait(std::chrono::milliseconds timeout) {
    std::vector<HANDLE> handles = {g_stopEvent};
    std::intptr_t arrival = -1;
    const PortWait portWait = PortWaitFor(engine_.cycle, *port_, &arrival);
    if (portWait == PortWait::Arrival) handles.push_back(reinterpret_cast<HANDLE>(arrival));
    if (portWait != PortWait::TimersOnly) timeout = std::min(timeout, kLookInterval);
    statePipe_.Events(&handles);
    controlPipe_.Events(&handles);
    timeout = std::min({timeout, statePipe_.UntilNextDeadline(), controlPipe_.UntilNextDeadline()});
    const auto now = std::chrono::steady_clock::now();
    if (pipesRetry_ != std::chrono::steady_clock::time_point::max()) {
      timeout = std::min(timeout, std::chrono::ceil<std::chrono::milliseconds>(
                                      std::max(pipesRetry_ - now, now - now)));
    }
    const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                              FALSE, static_cast<DWORD>(timeout.count()));
    statePipe_.Step();
    controlPipe_.Step();
    if (std::chrono::steady_clock::now() >= pipesRetry_) OpenPipes();
    if (woke == WAIT_OBJECT_0) {
      stopping_ = true;
      return false;
    }
    // While an attempt reads, every wake is also a look at the port (see PortWait::Arrival).
    return portWait != PortWait::TimersOnly;
  }

  // Starts the updates; Windows Time taking the clock from the network is said once a run.
  void Start() {
    engine_.cycle.StartUpdates();
    if (engine_.cycle.Started() && recorder_.WindowsTimeToTell()) {
      recorder_.Note(kWindowsTimeAdvice);
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
      case ServiceRequest::Refresh: {
        // Anyone may ask on the state pipe, and each attempt holds the port for seconds: users
        // get one accepted every kUserRefreshSpacing, administrators (the control pipe) any. An
        // administrator's Stop stops users too.
        if (!administrator && !cycle.Started()) {
          return std::string(kRefusedReply) +
                 "the service's updates are Off; only an administrator may refresh the time now";
        }
        const auto now = std::chrono::steady_clock::now();
        if (!administrator && userRefreshed_ && now - lastUserRefresh_ < kUserRefreshSpacing) {
          const auto wait = std::chrono::ceil<std::chrono::seconds>(
              kUserRefreshSpacing - (now - lastUserRefresh_));
          return std::string(kRefusedReply) + "the service takes Refresh Time from a user once in " +
                 std::to_string(kUserRefreshSpacing.count()) + " seconds; ask again in " +
                 std::to_string(wait.count()) + " s";
        }
        if (!administrator) {
          userRefreshed_ = true;
          lastUserRefresh_ = now;
        }
        if (FindProvider() == ProviderPresence::Enabled) {
          return std::string(kRefusedReply) + kProviderRefusal;
        }
        cycle.RefreshTime();
        return kOkReply;
      }
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
        if (FindProvider() == ProviderPresence::Enabled) {
          return std::string(kRefusedReply) + kProviderRefusal;
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
  Recorder recorder_;
  // Four clients at once on the state pipe, two on the administrators'.
  PipeServer statePipe_{kStatePipeName, kStatePipeSecurity, 4,
                        [this](const std::string& request) { return Answer(request, false); }};
  PipeServer controlPipe_{kControlPipeName, kControlPipeSecurity, 2,
                          [this](const std::string& request) { return Answer(request, true); }};
  std::chrono::steady_clock::time_point pipesRetry_ = std::chrono::steady_clock::time_point::max();
  bool pipesTold_ = false;
  bool userRefreshed_ = false;
  std::chrono::steady_clock::time_point lastUserRefresh_{};
  bool stopping_ = false;
};

void WINAPI ServiceMain(DWORD, LPSTR*) {
  g_statusHandle = RegisterServiceCtrlHandlerExA(kServiceName, Handler, nullptr);
  if (g_statusHandle == nullptr) return;
  Report(SERVICE_START_PENDING, NO_ERROR, 3000);
  g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  {
    ServiceHost host;
    Report(SERVICE_RUNNING);
    host.Run();
  }
  Report(SERVICE_STOPPED);
}

}  // namespace

bool RunAsService() {
  char name[sizeof kServiceName];
  std::copy(std::begin(kServiceName), std::end(kServiceName), name);
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) != FALSE;
}

}  // namespace clockagent
