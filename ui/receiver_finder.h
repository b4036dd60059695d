// Find Receiver: a search of every COM port of the list on a thread of its own, its progress
// told to the window as it goes and its outcome once it has ended.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "receiver/receiver_search.h"

namespace clockagent::ui {

constexpr UINT WM_FIND_PROGRESS = WM_APP + 10;  // the search began a trial: wParam the trial
constexpr UINT WM_FIND_ENDED = WM_APP + 11;     // the search has ended

// What the search needs of the window, always on the window's own thread.
class FinderView {
 public:
  // Start and Refresh Time would open the ports searched: off while the search runs.
  virtual void SearchBegan() = 0;
  virtual void SearchEnded() = 0;
  // What the search says in the hint bar.
  virtual void ShowFindNotice(const std::string& notice) = 0;
  // The receiver found, to select in the lists for Start to save.
  virtual void ReceiverFound(const PortFinding& finding) = 0;
  // No receiver on any port, and what was heard of each, for the user to read and confirm.
  virtual void NoReceiverFound(const std::string& report) = 0;

 protected:
  ~FinderView() = default;
};

class ReceiverFinder {
 public:
  explicit ReceiverFinder(FinderView& view) : view_(view) {}
  ~ReceiverFinder() { Stop(); }
  ReceiverFinder(const ReceiverFinder&) = delete;
  ReceiverFinder& operator=(const ReceiverFinder&) = delete;

  // The window the search posts WM_FIND_PROGRESS and WM_FIND_ENDED to, for Progress and Ended.
  void Attach(HWND window) { window_ = window; }

  bool Searching() const { return thread_.joinable(); }
  // Begins a search, or stops the one running, as the user asked.
  void Click();
  void Progress(int trial);
  void Ended();
  // Stops the search and waits for its thread, telling nothing: the window is going. A few
  // seconds at most: an open that blocks (a Bluetooth port whose device is away) must not hold the
  // window's exit; the thread is left to end by itself then, holding nothing of the window's.
  void Stop();

 private:
  // What the search's thread shares: its own, should it outlive the window.
  struct Search {
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::vector<PortFinding> findings;  // written by the thread, read once it is done
  };

  FinderView& view_;
  HWND window_ = nullptr;
  std::thread thread_;
  std::shared_ptr<Search> search_;
  bool stoppedByUser_ = false;
  int trialShown_ = -1;
};

}  // namespace clockagent::ui
