// The record of the updates on Windows, one for the window program and the service alike: each
// attempt's line in the CSV record and its events in the Event Log, and the two things worth
// telling the user once a run.
#pragma once

#include <string>

#include "record/event_log_win32.h"
#include "record/update_record.h"
#include "update/cycle_front_end.h"

namespace clockagent {

class Recorder {
 public:
  // The record in RecordPath(), its folder made or checked first (none when there is no
  // ProgramData folder, or when the folder is refused).
  Recorder();
  explicit Recorder(std::string recordPath);
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // The attempt's line in the record and its events in the Event Log. False the first time in a
  // run its line could not be written, and only then: the caller says so in its own way, once,
  // and the updates go on.
  bool AttemptEnded(const AttemptResult& result);

  // True the first time in a run it is asked while Windows Time sets the clock from the network
  // (kWindowsTimeAdvice), and only then. Asked after the updates have started.
  bool WindowsTimeToTell();

  // A warning in the Event Log in words of its own.
  void Note(const std::string& text) { events_.Note(text); }

  const std::string& RecordPath() const { return record_.Path(); }
  // Why its last line could not be written.
  const std::string& RecordFailure() const { return failure_; }

  // The record's last attempt (ReadLastAttempt). False when there is none to read.
  bool ReadLast(LastAttempt* last);

 private:
  // Runs a step on the record's files, in its folder held and checked (HeldFolder) when it is the
  // programs' own; false, with failure_ saying why, when the folder is refused.
  template <typename Step>
  bool Use(Step step);

  UpdateRecord record_;
  std::string folder_;   // held at each use; empty for a record of the caller's own path
  std::string failure_;
  EventReporter events_;
  bool recordFailureTold_ = false;
  bool windowsTimeTold_ = false;
};

}  // namespace clockagent
