// The record of every update attempt.
#include "record/update_record.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "record/record_file.h"
#include "record/record_lock.h"
#include "update/clock_setting.h"
#include "version.h"

namespace clockagent {
namespace {

// A field as CSV has it: quoted, its quotes doubled, only when it holds a comma, a quote or a
// line end.
std::string Csv(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// The size of the record's file: 0 when there is none yet. Why not, when something other than a
// file stands there (which is never renamed, nor written to) or it cannot be looked at; empty
// when the size was read.
std::string SizeOf(const std::string& path, std::uint64_t* size) {
  struct stat status {};
  *size = 0;
  if (stat(path.c_str(), &status) != 0) return errno == ENOENT ? "" : std::strerror(errno);
  if (!S_ISREG(status.st_mode)) return "it is not a regular file";
  *size = static_cast<std::uint64_t>(status.st_size);
  return "";
}

// Whether the file's first line is other than kRecordHeader: lines of these columns are not
// added under another header.
bool OtherHeader(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char first[sizeof kRecordHeader + 1] = {};
  const std::size_t got = std::fread(first, 1, sizeof first, file);
  std::fclose(file);
  const std::size_t length = sizeof kRecordHeader - 1;
  return !(got == sizeof first && std::memcmp(first, kRecordHeader, length) == 0 &&
           first[length] == '\r' && first[length + 1] == '\n');
}

// NAME.csv's NAME, or the whole path.
std::string Stem(const std::string& path) {
  const std::string extension = ".csv";
  if (path.size() > extension.size() &&
      path.compare(path.size() - extension.size(), extension.size(), extension) == 0) {
    return path.substr(0, path.size() - extension.size());
  }
  return path;
}

}  // namespace

std::string UtcText(std::int64_t systemNs) {
  SystemTime time;
  if (!ReceiverTimeToSystemTime(ReceiverTimeOf(systemNs), &time)) return "";
  char text[kIsoTimeTextSize];
  FormatIsoTimeMs(time, text);
  return text;
}

std::string RecordLine(const AttemptResult& result) {
  std::string line = UtcText(result.ended.systemNs) + "," + Csv(PortDisplayName(result.port)) +
                     "," + StatusText(result.outcome) + ",";
  if (result.packetTaken) line += TimingPacketName(result.packet);
  line += ",";
  if (result.clockAsked) {
    char offset[32];
    std::snprintf(offset, sizeof offset, "%+.6f", result.offsetSeconds);
    line += offset;
  }
  line += ",";
  if (result.outcome == UpdateOutcome::Success && result.stepped) {
    char set[kIsoTimeTextSize];
    FormatIsoTimeMs(result.clockTime, set);
    line += set;
  }
  std::string reason = ReasonText(result);
  if (*result.disciplineNote != '\0') {
    reason += (reason.empty() ? "" : "; ") + std::string(result.disciplineNote);
  }
  line += "," + Csv(reason) + ",";
  if (result.clockAsked) line += result.TimedByPulse() ? "pulse" : "packet";
  line += ",";
  if (result.disciplined) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.3f", result.ratePpm);
    line += rate;
  }
  return line;
}

std::string LockPathOf(const std::string& recordPath) { return Stem(recordPath) + ".lock"; }

std::string UpdateRecord::OlderPath() const {
  return Stem(path_) + (Stem(path_) == path_ ? ".1" : ".1.csv");
}

bool UpdateRecord::Append(const AttemptResult& result) {
  // The size, the rotation and the append under one lock: another writer's rotation between them
  // would remove the older file just made, or rename the file being appended to.
  std::uint64_t size = 0;
  failure_ = SizeOf(path_, &size);
  if (!failure_.empty()) return false;  // no lock file beside what is no record
  const RecordLock lock(path_, kRecordLockWaitMs);
  failure_ = lock.Held() ? SizeOf(path_, &size) : lock.Failure();
  if (!lock.Held() || !failure_.empty()) return false;
  if (size >= rotateAt_ || (size > 0 && OtherHeader(path_))) {
    const std::string older = OlderPath();
    std::remove(older.c_str());  // a rename does not replace a file everywhere
    if (std::rename(path_.c_str(), older.c_str()) != 0) {
      failure_ = std::string("it could not be put aside: ") + std::strerror(errno);
      return false;
    }
    size = 0;
  }
  // CSV as spreadsheets read it: lines end in CR LF.
  std::string text = size == 0 ? std::string(kRecordHeader) + "\r\n" : std::string();
  text += RecordLine(result) + "\r\n";
  failure_ = AppendToFile(path_, text);
  return failure_.empty();
}

bool ReadLastAttempt(const std::string& path, LastAttempt* attempt) {
  if (OtherHeader(path)) return false;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  // A line is far shorter than this: the last one lies in the file's tail.
  char tail[4096];
  const long size = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
  const long from = size > static_cast<long>(sizeof tail) ? size - static_cast<long>(sizeof tail) : 0;
  const std::size_t got =
      size > 0 && std::fseek(file, from, SEEK_SET) == 0 ? std::fread(tail, 1, sizeof tail, file) : 0;
  std::fclose(file);
  std::string text(tail, got);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const std::size_t begins = text.rfind('\n');
  if (begins == std::string::npos) return false;  // the header alone, or a line cut off
  // Its fields, a quoted one's doubled quotes made single again.
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = begins + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' && quoted && i + 1 < text.size() && text[i + 1] == '"') {
      fields.back() += c;
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  double ended = 0;
  if (fields.size() != 9 || !ParseIsoTime(fields[0].c_str(), &ended)) return false;
  for (int outcome = 0; outcome <= static_cast<int>(UpdateOutcome::BadTime); ++outcome) {
    if (fields[2] != StatusText(static_cast<UpdateOutcome>(outcome))) continue;
    attempt->outcome = static_cast<UpdateOutcome>(outcome);
    attempt->endedNs = std::llround(ended * 1000) * 1000000;  // written to the millisecond
    attempt->offsetKnown = !fields[4].empty();
    attempt->offsetSeconds = attempt->offsetKnown ? std::strtod(fields[4].c_str(), nullptr) : 0;
    attempt->reason = fields[6];
    return true;
  }
  return false;
}

std::string OffsetText(double offsetSeconds) {
  char text[64];
  std::snprintf(text, sizeof text, "clock was %.6f s %s", std::fabs(offsetSeconds),
                offsetSeconds >= 0 ? "behind" : "ahead");
  return text;
}

std::string LocalTimeText(std::int64_t systemNs) {
  const std::time_t seconds = static_cast<std::time_t>(systemNs / kNsPerSecond);
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &seconds) != 0) return "";
#else
  if (localtime_r(&seconds, &local) == nullptr) return "";
#endif
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

std::string RateText(double ratePpm) {
  char text[48];
  std::snprintf(text, sizeof text, "rate %.3f ppm", ratePpm);
  return text;
}

std::string TipText(const AttemptResult* last, const std::string& localTime) {
  std::string tip = kProductName;
  if (last == nullptr) return tip;
  if (last->outcome == UpdateOutcome::Success) {
    tip += "\nUpdated " + localTime + ": " + OffsetText(last->offsetSeconds);
  } else {
    tip += std::string("\n") + StatusText(last->outcome) + " at " + localTime;
  }
  return last->disciplined ? tip + "\nHeld at " + RateText(last->ratePpm) : tip;
}

}  // namespace clockagent
