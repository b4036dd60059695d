// The record of the updates on Windows, shared by the window program and the service.
#include "record/recorder_win32.h"

#include <utility>

#include "record/record_folder_win32.h"
#include "update/windows_time.h"

namespace clockagent {

Recorder::Recorder() : record_("") {
  // A folder that is not the programs' own gets no record (written elsewhere, it would go where
  // its owner points it), and the Event Log says why once.
  std::string refusal;
  if (MakeRecordFolder(&refusal)) {
    record_ = UpdateRecord(clockagent::RecordPath());
  } else if (!refusal.empty()) {
    events_.Note(refusal);
  }
}

Recorder::Recorder(std::string recordPath) : record_(std::move(recordPath)) {}

bool Recorder::AttemptEnded(const AttemptResult& result) {
  bool written = true;
  if (!record_.Path().empty() && !record_.Append(result) && !recordFailureTold_) {
    recordFailureTold_ = true;
    written = false;
  }
  events_.AttemptEnded(result);
  return written;
}

bool Recorder::WindowsTimeToTell() {
  if (windowsTimeTold_ || !WindowsTimeOverwrites()) return false;
  windowsTimeTold_ = true;
  return true;
}

}  // namespace clockagent
