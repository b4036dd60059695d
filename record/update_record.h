// The record of every update attempt: a CSV file a line an attempt, kept under 2 MB, and the
// words the notification-area icon's tip says of the last one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "update/cycle_front_end.h"

namespace clockagent {

// The record's file in a folder of its own (the window program's and the service's).
constexpr char kRecordFileName[] = "updates.csv";

constexpr char kRecordHeader[] =
    "time_utc,port,outcome,packet,offset_s,set_to,reason,timed_by,rate_ppm";

// How long an append waits for another writer of the same record (the window program, the
// service, the console tool) before it gives its line up.
constexpr int kRecordLockWaitMs = 2000;

// One attempt's line, without the line end: when it ended, the port, the status text, the packet
// taken, the receiver's time less the computer's clock ("+0.473012": the computer was behind),
// the time set, why a time was refused (ReasonText) and what timed it ("pulse" or "packet"), each
// field empty where there is nothing
// to say, quoted only where it must be.
std::string RecordLine(const AttemptResult& result);

// "YYYY-MM-DDTHH:MM:SS.mmmZ" of a moment of the system clock; empty before the GPS epoch.
std::string UtcText(std::int64_t systemNs);

// Appends to a CSV file. At 1 MB the file is renamed, its name's ".csv" becoming ".1.csv" (in
// place of an older one), and a new one is begun, so the two never hold more than 2 MB; a file
// begun under another header (an older version's columns) is put aside the same way. Writers
// of one record in other threads and processes take turns (RecordLock).
class UpdateRecord {
 public:
  explicit UpdateRecord(std::string path, std::uint64_t rotateAt = 1 << 20)
      : path_(std::move(path)), rotateAt_(rotateAt) {}

  // The attempt's line, under the header in a new file. False when it could not be written (then
  // Failure says why): the update goes on all the same.
  bool Append(const AttemptResult& result);
  const std::string& Failure() const { return failure_; }

  const std::string& Path() const { return path_; }
  std::string OlderPath() const;

 private:
  std::string path_;
  std::uint64_t rotateAt_;
  std::string failure_;
};

// The last attempt a record holds, as its last line says it.
struct LastAttempt {
  UpdateOutcome outcome = UpdateOutcome::DaroFailure;
  std::int64_t endedNs = 0;   // when it ended, on the system clock, to the millisecond
  bool offsetKnown = false;
  double offsetSeconds = 0;   // behind positive
  std::string reason;
};

// The record's last line at `path`; false when it has none, or none this version wrote.
bool ReadLastAttempt(const std::string& path, LastAttempt* attempt);

// The icon's tip: "ClockAgent", and under it the last outcome in words read at a glance, its
// time as the user's clock shows it ("09:23:49"):
//   "ClockAgent\nUpdated 09:23:49: clock was 0.473012 s behind"
//   "ClockAgent\nError - DARO Failure at 09:23:49"
std::string TipText(const AttemptResult* last, const std::string& localTime);

// "clock was 0.473012 s behind" (or "ahead"): the receiver's time less the computer's clock, in
// words.
std::string OffsetText(double offsetSeconds);
// "rate -100.012 ppm": the correction a discipline applies to the clock's rate.
std::string RateText(double ratePpm);

// "HH:MM:SS" of a moment of the system clock in the computer's time zone.
std::string LocalTimeText(std::int64_t systemNs);

}  // namespace clockagent
