// The main window's following of the service: while the ClockAgent service runs, the window shows
// its state, looked at every half second, and hands it Start, Stop and Refresh Time. Every
// question goes through the ServiceAsker's thread, and its answer comes back as a message.
#include "ui/service_follower.h"

#include "service/service_control_win32.h"

namespace clockagent::ui {

void ServiceFollower::Attach(HWND window, UINT message) {
  asker_ = std::make_unique<ServiceAsker>(window, message);
  firstLookPending_ = true;
  Look();
}

void ServiceFollower::Look() {
  if (!asker_->AskingState()) asker_->Ask(ServiceRequest::State);
}

void ServiceFollower::Ask(ServiceRequest request, const CycleChoices& choices) {
  asker_->Ask(request, choices);
}

void ServiceFollower::Replied(LPARAM lParam) {
  const std::unique_ptr<ServiceAsker::Reply> reply = ServiceAsker::TakeReply(lParam);
  if (reply->request == ServiceRequest::State) {
    Follow(reply->answer, reply->state);
    return;
  }
  if (reply->answer == PipeAnswer::AccessDenied) {
    view_.ServiceMessage(kAdministratorNeeded, MB_ICONINFORMATION);
  } else if (reply->answer == PipeAnswer::NotTheService) {
    view_.ServiceNotice(kNotTheServiceNotice);
  } else if (reply->answer != PipeAnswer::Answered) {
    view_.ServiceMessage("The ClockAgent service did not answer.", MB_ICONEXCLAMATION);
  } else if (const char* refusal = RefusalMessage(reply->text)) {
    view_.ServiceRefused(refusal);
  }
  // The change shown at once; after a Start, the window hears of it once the state has come.
  if (reply->request == ServiceRequest::Start) afterStartPending_ = true;
  asker_->Ask(ServiceRequest::State);
}

void ServiceFollower::Follow(PipeAnswer answer, const ServiceState& state) {
  // A program that holds the service's pipe in its place is not believed: the window goes on
  // with its own schedule and says so. A service that did not answer (its pipe kept busy by other
  // clients) is still followed while the service manager says it runs: the window's own Start
  // would compete with it for the port.
  const bool answered = answer == PipeAnswer::Answered;
  const bool runs = answered || (runs_ && answer != PipeAnswer::NotTheService &&
                                 FindService() == ServicePresence::Running);
  if (answer == PipeAnswer::NotTheService) view_.ServiceNotice(kNotTheServiceNotice);
  if (runs != runs_) {
    runs_ = runs;
    shownValid_ = false;
    view_.ServiceModeChanged(runs);
  }
  if (answered) {
    view_.ShowServiceState(state, shownValid_ ? &shown_ : nullptr);
    shown_ = state;
    shownValid_ = true;
  }
  if (firstLookPending_) {
    firstLookPending_ = false;
    view_.FirstLookAnswered();
  }
  if (afterStartPending_) {
    afterStartPending_ = false;
    view_.StateAfterStart();
  }
}

}  // namespace clockagent::ui
