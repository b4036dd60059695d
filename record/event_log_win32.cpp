// The Windows Event Log.
#include "record/event_log_win32.h"

#include <cmath>

#include "messages.h"
#include "record/update_record.h"

namespace clockagent {

bool RegisterEventSourceFile(const std::string& messageFile) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  const bool done =
      RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                     reinterpret_cast<const BYTE*>(messageFile.c_str()),
                     static_cast<DWORD>(messageFile.size() + 1)) == ERROR_SUCCESS &&
      RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                     sizeof types) == ERROR_SUCCESS;
  RegCloseKey(key);
  return done;
}

void UnregisterEventSourceFile() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEventSourceKey); }

EventReporter::EventReporter() : source_(RegisterEventSourceA(nullptr, kEventSource)) {}

EventReporter::~EventReporter() {
  if (source_ != nullptr) DeregisterEventSource(source_);
}

bool EventReporter::Report(WORD type, DWORD id, const std::string* texts, WORD count) {
  if (source_ == nullptr) return false;
  const char* strings[3] = {};
  for (WORD i = 0; i < count && i < 3; ++i) strings[i] = texts[i].c_str();
  if (!ReportEventA(source_, type, 0, id, nullptr, count, 0, strings, nullptr)) return false;
  ++written_;
  return true;
}

void EventReporter::AttemptEnded(const AttemptResult& result) {
  const std::string port = PortDisplayName(result.port);
  const std::string when = UtcText(result.ended.systemNs);
  const bool success = result.outcome == UpdateOutcome::Success;
  const std::string reason = ReasonText(result);
  if (!success && !failing_) {
    const std::string status = StatusText(result.outcome);
    const std::string texts[] = {port, reason.empty() ? status : status + ": " + reason, when};
    Report(EVENTLOG_WARNING_TYPE, MSG_UPDATES_FAILING, texts, 3);
  } else if (success && failing_) {
    const std::string texts[] = {port, when};
    Report(EVENTLOG_INFORMATION_TYPE, MSG_UPDATES_SUCCEED, texts, 2);
  } else if (result.outcome == UpdateOutcome::BadTime && result.refusal != refusalTold_) {
    // Failing still, with a time refused for another reason: a receiver that sets its time by
    // hand after it had none is worth its own word. The kind of refusal, not its text, which
    // may hold a value (the correction refused) that differs at each attempt.
    const std::string texts[] = {port, reason, when};
    Report(EVENTLOG_WARNING_TYPE, MSG_TIME_REFUSED, texts, 3);
  }
  failing_ = !success;
  refusalTold_ = result.refusal;
  if (*result.disciplineNote != '\0') Note(result.disciplineNote);
  // A step while the discipline holds the clock is rare enough to tell, as a large correction is.
  if (success && (std::fabs(result.offsetSeconds) > 1.0 ||
                  (result.disciplined && result.stepped))) {
    const std::string texts[] = {port, "the " + OffsetText(result.offsetSeconds), when};
    Report(EVENTLOG_INFORMATION_TYPE, MSG_CLOCK_CORRECTED, texts, 3);
  }
}

void EventReporter::Note(const std::string& text) { Report(EVENTLOG_WARNING_TYPE, MSG_NOTE, &text, 1); }

}  // namespace clockagent
