// The ServiceAsker: the window's questions to the ClockAgent service, one at a time on a thread of
// its own, each answer posted back to the window.
#include "ui/service_asker.h"

#include "service/service_control_win32.h"

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

}  // namespace clockagent::ui
