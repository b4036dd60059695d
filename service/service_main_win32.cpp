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

#include "receiver/system_serial_port.h"
#include "record/recorder_win32.h"
#include "service/service_pipes_win32.h"
#include "service/service_state.h"
#include "settings/registry_store.h"
#include "update/clock_setter.h"
#include "update/timer_loop.h"
#include "update/update_cycle.h"
#include "update/windows_time.h"

namespace clockagent {
namespace {

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
      if (!recorder_.AttemptEnded(result)) {  // said once; the updates go on
        recorder_.Note("ClockAgent cannot write its record " + recorder_.RecordPath() +
                       "; the updates go on.");
      }
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
  // Waits for the stop request, a pipe's client, or the port as PortWaitFor says; true when the
  // port's bytes are to be read.
  bool Wait(std::chrono::milliseconds timeout) {
    HANDLE handles[4] = {g_stopEvent, statePipe_.Event(), controlPipe_.Event(), nullptr};
    DWORD count = 3;
    std::intptr_t arrival = -1;
    const PortWait portWait = PortWaitFor(engine_.cycle, *port_, &arrival);
    if (portWait == PortWait::Arrival) handles[count++] = reinterpret_cast<HANDLE>(arrival);
    if (portWait != PortWait::TimersOnly) timeout = std::min(timeout, kLookInterval);
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
        return woke == WAIT_TIMEOUT && portWait != PortWait::TimersOnly;
    }
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
  Recorder recorder_;
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

}  // namespace

bool RunAsService() {
  char name[sizeof kServiceName];
  std::copy(std::begin(kServiceName), std::end(kServiceName), name);
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) != FALSE;
}

}  // namespace clockagent
