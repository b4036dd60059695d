// The Windows Event Log: what ClockAgent writes there under its source "ClockAgent", never one
// event per routine update.
#pragma once

#include <windows.h>

#include <string>

#include "update/cycle_front_end.h"
#include "version.h"

namespace clockagent {

constexpr char kEventSource[] = CLOCKAGENT_PRODUCT;
constexpr char kEventSourceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" CLOCKAGENT_PRODUCT;

// Registers the source with its message file (a program holding the message table); needs an
// administrator. False when the registry refused.
bool RegisterEventSourceFile(const std::string& messageFile);
void UnregisterEventSourceFile();

class EventReporter {
 public:
  EventReporter();
  ~EventReporter();
  EventReporter(const EventReporter&) = delete;
  EventReporter& operator=(const EventReporter&) = delete;

  // A warning when updates that succeeded begin to fail (with the reason a time was refused),
  // another when, failing still, a time is refused for a new reason, information when they
  // succeed again, and information when an update corrected the clock by more than a second or
  // stepped a clock the discipline holds; a warning when the discipline stops or does not start.
  void AttemptEnded(const AttemptResult& result);
  // A warning in words of its own (Windows Time, a record that cannot be written).
  void Note(const std::string& text);

  // How many events this reporter wrote, for the tests.
  int Written() const { return written_; }

 private:
  bool Report(WORD type, DWORD id, const std::string* texts, WORD count);

  HANDLE source_ = nullptr;
  bool failing_ = false;  // updates are taken to succeed until one fails
  Refusal refusalTold_ = Refusal::None;  // the last attempt's refusal
  int written_ = 0;
};

}  // namespace clockagent
