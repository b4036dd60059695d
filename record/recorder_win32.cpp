// The record of the updates on Windows, shared by the window program and the service.
#include "record/recorder_win32.h"

#include <utility>

#include "record/record_folder_win32.h"
#include "update/windows_time.h"

namespace clockagent {

Recorder::Recorder() : record_("") {
  // A folder that is not the programs' own gets no record (written elsewhere, it would go where
  // its owner points it), and the Event Log says why once.
  std::string refusal, notice;
  if (MakeRecordFolder(&refusal, &notice)) {
    record_ = UpdateRecord(clockagent::RecordPath());
    folder_ = RecordFolder();
    if (!notice.empty()) events_.Note(notice);
  } else if (!refusal.empty()) {
    events_.Note(refusal);
  }
}

Recorder::Recorder(std::string recordPath) : record_(std::move(recordPath)) {}

template <typename Step>
bool Recorder::Use(Step step) {
  bool done = false;
  if (folder_.empty()) {
    done = step();
  } else {
    // Checked at each use, and held meanwhile: the record's files are opened by their paths.
    const HeldFolder held(folder_, RecordFolderAccess());
    if (*held.Refusal() != '\0') {
      failure_ = "its folder " + folder_ + ": " + held.Refusal();
      return false;
    }
    done = step();
  }
  failure_ = record_.Failure();
  return done;
}

bool Recorder::AttemptEnded(const AttemptResult& result) {
  bool written = true;
  if (!record_.Path().empty() && !Use([&] { return record_.Append(result); }) &&
      !recordFailureTold_) {
    recordFailureTold_ = true;
    written = false;
  }
  events_.AttemptEnded(result);
  return written;
}

bool Recorder::ReadLast(LastAttempt* last) {
  return !record_.Path().empty() && Use([&] { return ReadLastAttempt(record_.Path(), last); });
}

bool Recorder::WindowsTimeToTell() {
  if (windowsTimeTold_ || !WindowsTimeOverwrites()) return false;
  windowsTimeTold_ = true;
  return true;
}

}  // namespace clockagent
