// One writer of a record at a time: the window program, the service and the console tool may
// append to the same file, and a rotation that races another writer's append or rotation loses
// the lines of a whole file.
#pragma once

#include <string>

namespace clockagent {

// Held from construction to destruction when Held(): a lock file beside the record (the record's
// name with ".lock" in place of ".csv"), never removed, so that every writer locks the same file
// whatever the record's rotation does. Only those who may write the record may open the lock
// file: a reader holding it would silence the record. Waits up to `waitMs` for another writer to finish, never
// longer: a record that stays locked loses a line, never an update.
class RecordLock {
 public:
  RecordLock(const std::string& recordPath, int waitMs);
  ~RecordLock();
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;

  bool Held() const { return held_; }
  // Why it is not held: "another program holds its lock", or the system's words.
  const std::string& Failure() const { return failure_; }

 private:
  bool held_ = false;
  std::string failure_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// The lock file's path: "updates.lock" beside "updates.csv", NAME.lock beside any other NAME.
std::string LockPathOf(const std::string& recordPath);

}  // namespace clockagent
