// Find Receiver: the COM ports of the list searched on a thread of its own, each trial begun
// posted to the window, and the receiver found, or what was heard of each port, told once it has
// ended.
#include "ui/receiver_finder.h"

#include "receiver/system_serial_port.h"

namespace clockagent::ui {
namespace {

// Posts each trial begun to the window; the findings are read once the search has ended.
class TrialPoster final : public SearchObserver {
 public:
  explicit TrialPoster(HWND window) : window_(window) {}
  void TrialBegan(const PortChoice&, int trial) override {
    PostMessageA(window_, WM_FIND_PROGRESS, static_cast<WPARAM>(trial), 0);
  }
  void PortSearched(const PortFinding&) override {}

 private:
  HWND window_;
};

// "COM 3, COM 11", or "none".
// "COM 1 to COM 20": every port the search tries.
std::string AllPorts() { return "COM 1 to COM " + std::to_string(kPortCount); }

std::string PortList(const std::vector<PortFinding>& findings, PortVerdict verdict) {
  std::string list;
  for (const PortFinding& finding : findings) {
    if (finding.verdict != verdict) continue;
    if (!list.empty()) list += ", ";
    list += "COM " + std::to_string(finding.port.number);
  }
  return list.empty() ? "none" : list;
}

}  // namespace

void ReceiverFinder::Click() {
  if (thread_.joinable()) {  // a second click stops the search
    stoppedByUser_ = true;
    search_->stop = true;
    view_.ShowFindNotice("Stopping the search...");
    return;
  }
  search_ = std::make_shared<Search>();
  stoppedByUser_ = false;
  trialShown_ = -1;
  view_.SearchBegan();
  view_.ShowFindNotice("Finding the receiver on " + AllPorts() + "...");
  const HWND window = window_;
  thread_ = std::thread([search = search_, window] {
    std::vector<PortChoice> ports(kPortCount);
    for (int i = 0; i < kPortCount; ++i) ports[static_cast<std::size_t>(i)].number = i + 1;
    TrialPoster poster(window);
    search->findings = SearchPorts(ports, NewSystemSerialPort, search->stop, true, poster);
    search->done = true;
    PostMessageA(window, WM_FIND_ENDED, 0, 0);  // nothing, once the window has gone
  });
}

void ReceiverFinder::Progress(int trial) {
  if (!thread_.joinable() || search_->stop || trial <= trialShown_ || trial >= kSearchTrialCount) return;
  trialShown_ = trial;
  const std::string progress = "Finding the receiver: " + TrialText(trial) +
                               " (" + std::to_string(trial + 1) + " of " +
                               std::to_string(kSearchTrialCount) + ")";
  view_.ShowFindNotice(progress);
}

void ReceiverFinder::Ended() {
  if (!thread_.joinable()) return;
  thread_.join();
  view_.SearchEnded();
  const std::vector<PortFinding>& findings = search_->findings;
  for (const PortFinding& finding : findings) {
    if (finding.verdict != PortVerdict::Found) continue;
    std::string found = "Found a receiver on COM " + std::to_string(finding.port.number) + ": " +
                        LineSettingsText(finding.line);
    if (finding.protocol == ReceiverProtocol::Nmea) {
      const std::string text = FoundText(finding);  // "COM7: 4800 baud, 8-N-1, NMEA (RMC, GGA)"
      found += text.substr(text.find(", NMEA"));
    }
    view_.ReceiverFound(finding);  // the NMEA protocol selected with its settings
    view_.ShowFindNotice(found);
    return;
  }
  if (stoppedByUser_) {
    view_.ShowFindNotice("Find Receiver stopped.");
    return;
  }
  view_.NoReceiverFound(
      "No receiver was found on " + AllPorts() + ".\n\n"
      "Listened at every line setting on: " + PortList(findings, PortVerdict::Silent) + "\n" +
      "In use by another program, skipped: " + PortList(findings, PortVerdict::InUse) + "\n" +
      "The other ports could not be opened.");
}

void ReceiverFinder::Stop() {
  if (!thread_.joinable()) return;
  search_->stop = true;
  for (int waited = 0; waited < 3000 && !search_->done; waited += 10) Sleep(10);
  if (search_->done) {
    thread_.join();
  } else {
    thread_.detach();
  }
}

}  // namespace clockagent::ui
