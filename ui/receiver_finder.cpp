// The main window's Find Receiver: COM 1 to COM 20 searched on a thread of its own, progress in the
// hint bar, and the receiver found selected in the lists.
#include <string>

#include "receiver/system_serial_port.h"
#include "ui/main_window.h"

namespace clockagent::ui {
namespace {

constexpr int kFindCommands[] = {ID_SpeedButton_Start, ID_Control_Start, ID_SpeedButton_Refresh,
                                 ID_Control_Refresh};

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

void TForm_Main::SpeedButton_FindClick() {
  if (finder_.joinable()) {  // a second click stops the search
    findStoppedByUser_ = true;
    findStop_ = true;
    ShowFindNotice("Stopping the search...");
    return;
  }
  // While On the button and the menu item are disabled; a command sent regardless does nothing.
  if (!IsWindowEnabled(Item(ID_SpeedButton_Find))) return;
  findStop_ = false;
  findStoppedByUser_ = false;
  findTrialShown_ = -1;
  findings_.clear();
  for (int id : kFindCommands) SetEnabled(id, false);  // they would open the port searched
  ShowFindNotice("Finding the receiver on COM 1 to COM 20...");
  const HWND window = hwnd_;
  finder_ = std::thread([this, window] {
    std::vector<PortChoice> ports(kPortCount);
    for (int i = 0; i < kPortCount; ++i) ports[static_cast<std::size_t>(i)].number = i + 1;
    TrialPoster poster(window);
    findings_ = SearchPorts(ports, NewSystemSerialPort, findStop_, true, poster);
    PostMessageA(window, WM_FIND_ENDED, 0, 0);
  });
}

void TForm_Main::FindProgress(int trial) {
  if (!finder_.joinable() || findStop_ || trial <= findTrialShown_ || trial >= kSearchTrialCount) {
    return;
  }
  findTrialShown_ = trial;
  const std::string progress = "Finding the receiver: " + LineSettingsText(SearchTrial(trial)) +
                               " (" + std::to_string(trial + 1) + " of " +
                               std::to_string(kSearchTrialCount) + ")";
  ShowFindNotice(progress);
}

void TForm_Main::FindEnded() {
  if (!finder_.joinable()) return;
  finder_.join();
  const bool started = serviceMode_ ? serviceShown_.started : engine_->cycle.Started();
  SetEnabled(ID_SpeedButton_Start, !started);
  SetEnabled(ID_Control_Start, !started);
  SetEnabled(ID_SpeedButton_Refresh, true);
  SetEnabled(ID_Control_Refresh, true);
  for (const PortFinding& finding : findings_) {
    if (finding.verdict != PortVerdict::Found) continue;
    ShowPortSettings(finding.port.number, finding.line);
    const std::string found = "Found a receiver on COM " + std::to_string(finding.port.number) +
                              ": " + LineSettingsText(finding.line);
    ShowFindNotice(found);
    return;
  }
  if (findStoppedByUser_) {
    ShowFindNotice("Find Receiver stopped.");
    return;
  }
  ShowNotice("");
  const std::string text =
      "No receiver was found on COM 1 to COM 20.\n\n"
      "Listened at every line setting on: " + PortList(findings_, PortVerdict::Silent) + "\n" +
      "In use by another program, skipped: " + PortList(findings_, PortVerdict::InUse) + "\n" +
      "The other ports could not be opened.";
  MessageBoxA(hwnd_, text.c_str(), "Find Receiver", MB_OK | MB_ICONINFORMATION);
}

void TForm_Main::ShowFindNotice(const std::string& notice) {
  ShowNotice(notice.c_str());
  findSays_ = true;
}

void TForm_Main::StopFinding() {
  findStop_ = true;
  if (finder_.joinable()) finder_.join();
}

}  // namespace clockagent::ui
