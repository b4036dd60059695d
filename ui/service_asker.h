// The window's questions to the ClockAgent service, asked on a thread of their own: a service
// that is slow to answer, or a program that answers in its place, never holds the window.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service/service_pipes_win32.h"
#include "service/service_state.h"

namespace clockagent::ui {

class ServiceAsker {
 public:
  // Each answer, posted to `window` as `message` with a ServiceAsker::Reply* in lParam that the
  // window takes (TakeReply).
  struct Reply {
    ServiceRequest request = ServiceRequest::State;
    PipeAnswer answer = PipeAnswer::Failed;
    ServiceState state;  // for State, when Answered
    std::string text;    // for the others, when Answered
  };

  ServiceAsker(HWND window, UINT message);
  ~ServiceAsker();  // waits for the question being asked, a couple of seconds at most
  ServiceAsker(const ServiceAsker&) = delete;
  ServiceAsker& operator=(const ServiceAsker&) = delete;

  void Ask(ServiceRequest request, const CycleChoices& choices = {});
  // Whether a State question is waiting or being asked: the window asks again only after.
  bool AskingState() const;
  static std::unique_ptr<Reply> TakeReply(LPARAM lParam) {
    return std::unique_ptr<Reply>(reinterpret_cast<Reply*>(lParam));
  }

 private:
  struct Question {
    ServiceRequest request;
    CycleChoices choices;
  };
  void Work();

  HWND window_;
  UINT message_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Question> questions_;
  int statesAsked_ = 0;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace clockagent::ui
