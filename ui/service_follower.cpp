// The main window as the service's front end: while the ClockAgent service runs, the window shows
// its state, looked at every half second, and hands it Start, Stop and Refresh Time.
#include "service/service_control_win32.h"
#include "service/service_pipes_win32.h"
#include "ui/main_window.h"

#include <cstring>

namespace clockagent::ui {

void TForm_Main::FollowService() {
  ServiceState state;
  const bool runs = AskServiceState(&state);
  if (runs != serviceMode_) {
    serviceMode_ = runs;
    serviceShownValid_ = false;
    // Auto Start is the service's while it runs, which the group says plainly.
    SetWindowTextA(Item(ID_RadioGroup_AutoStart), runs ? kAutoStartByService : "Auto Start");
    SetEnabled(ID_RadioGroup_AutoStart, !runs && !engine_->cycle.Started());
    if (!runs) ScheduleChanged(engine_->cycle.Started());  // the window's own schedule again
  }
  if (runs) ShowServiceState(state);
}

void TForm_Main::ShowServiceState(const ServiceState& state) {
  const bool all = !serviceShownValid_;
  if (all || state.started != serviceShown_.started) ScheduleChanged(state.started);
  if (state.ended) ShowOutcome(state.outcome, state.successes, state.attempts);
  if (!state.timeOfWeek.empty()) SetCaption(ID_Panel_Time, state.timeOfWeek.c_str());
  std::string tip = kApplicationTitle;
  if (state.ended) {
    AttemptResult last;
    last.outcome = state.outcome;
    last.offsetSeconds = state.offsetSeconds;
    tip = TipText(&last, LocalTimeText(state.endedNs));
  }
  const TrayIconState icon = state.polling ? TrayIconState::InProgress
                             : state.ended ? IconStateAfter(state.outcome)
                                           : TrayIconState::SleepingOk;
  if (all || icon != trayState_ || tip != tip_) {
    tip_ = tip;
    RemoveTrayIcons();
    AddTrayIcon(icon);
  }
  serviceShown_ = state;
  serviceShownValid_ = true;
}

void TForm_Main::AskTheService(ServiceRequest request) {
  const bool control = request == ServiceRequest::Start || request == ServiceRequest::Stop;
  std::string reply;
  const PipeAnswer answer =
      AskService(control ? kControlPipeName : kStatePipeName,
                 EncodeRequest(request, request == ServiceRequest::Start ? Choices() : CycleChoices{}),
                 &reply);
  if (answer == PipeAnswer::AccessDenied) {
    MessageBoxA(hwnd_, kAdministratorNeeded, kApplicationTitle, MB_OK | MB_ICONINFORMATION);
  } else if (answer != PipeAnswer::Answered) {
    MessageBoxA(hwnd_, "The ClockAgent service did not answer.", kApplicationTitle,
                MB_OK | MB_ICONEXCLAMATION);
  } else if (reply.rfind(kRefusedReply, 0) == 0) {
    Refused(reply.c_str() + std::strlen(kRefusedReply));  // as Start itself refuses
  }
  FollowService();  // shows the change at once
  if (request == ServiceRequest::Start) WarnOfWindowsTime();
}

}  // namespace clockagent::ui
