// The main window as the service's front end: while the ClockAgent service runs, the window shows
// its state, looked at every half second, and hands it Start, Stop and Refresh Time. Every
// question goes through the ServiceAsker's thread, and its answer comes back as a message.
#include "service/service_control_win32.h"
#include "service/service_pipes_win32.h"
#include "ui/main_window.h"
#include "ui/service_asker.h"

#include <cstring>

namespace clockagent::ui {

ServiceAsker::ServiceAsker(HWND window, UINT message)
    : window_(window), message_(message), worker_([this] { Work(); }) {}

ServiceAsker::~ServiceAsker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    questions_.clear();
  }
  wake_.notify_one();
  worker_.join();
}

void ServiceAsker::Ask(ServiceRequest request, const CycleChoices& choices) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    questions_.push_back({request, choices});
    if (request == ServiceRequest::State) ++statesAsked_;
  }
  wake_.notify_one();
}

bool ServiceAsker::AskingState() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return statesAsked_ > 0;
}

void ServiceAsker::Work() {
  for (;;) {
    Question question;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !questions_.empty(); });
      if (stopping_) return;
      question = questions_.front();
      questions_.pop_front();
    }
    auto reply = std::make_unique<Reply>();
    reply->request = question.request;
    if (question.request == ServiceRequest::State) {
      reply->answer = AskServiceState(&reply->state);
    } else {
      const std::string text = EncodeRequest(question.request, question.choices);
      // Refresh Time through the administrators' pipe where this user may use it (it is not
      // rationed there); otherwise through the state pipe, which is anyone's.
      reply->answer = AskService(kControlPipeName, text, &reply->text);
      if (question.request == ServiceRequest::Refresh && reply->answer == PipeAnswer::AccessDenied) {
        reply->answer = AskService(kStatePipeName, text, &reply->text);
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (question.request == ServiceRequest::State) --statesAsked_;
    }
    if (PostMessageA(window_, message_, 0, reinterpret_cast<LPARAM>(reply.get()))) reply.release();
  }
}

void TForm_Main::LookAtService() {
  if (!asker_->AskingState()) asker_->Ask(ServiceRequest::State);
}

void TForm_Main::ServiceReplied(LPARAM lParam) {
  const std::unique_ptr<ServiceAsker::Reply> reply = ServiceAsker::TakeReply(lParam);
  if (reply->request == ServiceRequest::State) {
    FollowService(reply->answer, reply->state);
    return;
  }
  if (reply->answer == PipeAnswer::AccessDenied) {
    MessageBoxA(hwnd_, kAdministratorNeeded, kApplicationTitle, MB_OK | MB_ICONINFORMATION);
  } else if (reply->answer == PipeAnswer::NotTheService) {
    ShowNotice(kNotTheServiceNotice);
  } else if (reply->answer != PipeAnswer::Answered) {
    MessageBoxA(hwnd_, "The ClockAgent service did not answer.", kApplicationTitle,
                MB_OK | MB_ICONEXCLAMATION);
  } else if (reply->text.rfind(kRefusedReply, 0) == 0) {
    Refused(reply->text.c_str() + std::strlen(kRefusedReply));  // as Start itself refuses
  }
  // The change shown at once; after a Start, Windows Time is looked at once the state has come.
  if (reply->request == ServiceRequest::Start) warnAfterState_ = true;
  asker_->Ask(ServiceRequest::State);
}

void TForm_Main::FollowService(PipeAnswer answer, const ServiceState& state) {
  // A program that holds the service's pipe in its place is not believed: the window goes on
  // with its own schedule and says so.
  const bool runs = answer == PipeAnswer::Answered;
  if (answer == PipeAnswer::NotTheService) ShowNotice(kNotTheServiceNotice);
  if (runs != serviceMode_) {
    serviceMode_ = runs;
    serviceShownValid_ = false;
    // Only one of the two runs the updates: a running service's schedule wins, and the window's
    // own stops, an attempt of its in progress included, so that the port and the record have
    // one user.
    if (runs && engine_->cycle.Started()) engine_->cycle.StopUpdates();
    if (runs) engine_->cycle.Abandon();
    // Auto Start is the service's while it runs, which the group says plainly.
    SetWindowTextA(Item(ID_RadioGroup_AutoStart), runs ? kAutoStartByService : "Auto Start");
    SetEnabled(ID_RadioGroup_AutoStart, !runs && !engine_->cycle.Started());
    if (!runs) ScheduleChanged(engine_->cycle.Started());  // the window's own schedule again
  }
  if (runs) ShowServiceState(state);
  if (autoStartPending_) {
    // Auto Start waited for the first look at the service: it is the window's only without one.
    autoStartPending_ = false;
    if (!serviceMode_ && ItemIndex(ID_RadioGroup_AutoStart) == 0) {
      engine_->cycle.StartUpdates();
      WarnOfWindowsTime();
    }
  }
  if (warnAfterState_) {
    warnAfterState_ = false;
    WarnOfWindowsTime();
  }
}

void TForm_Main::ShowServiceState(const ServiceState& state) {
  const bool all = !serviceShownValid_;
  if (all || state.started != serviceShown_.started) ScheduleChanged(state.started);
  if (state.ended) {
    ShowOutcome(state.outcome, state.successes, state.attempts);
    ShowReason(state.reason);
  }
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
  asker_->Ask(request, request == ServiceRequest::Start ? Choices() : CycleChoices{});
}

}  // namespace clockagent::ui
