// The record's lock on Linux: flock on the lock file, which every writer opens anew.
#include "record/record_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace clockagent {

RecordLock::RecordLock(const std::string& recordPath, int waitMs) {
  // Never through a symbolic link: the lock file is made, not followed. Its writers' alone: one
  // made readable by others before is narrowed (a reader opened before keeps its descriptor).
  fd_ = open(LockPathOf(recordPath).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    failure_ = std::string("its lock file: ") + std::strerror(errno);
    return;
  }
  struct stat status {};
  if (fstat(fd_, &status) == 0 && (status.st_mode & 077) != 0 && status.st_uid == geteuid()) {
    fchmod(fd_, 0600);
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      held_ = true;
      return;
    }
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until) {
      failure_ = errno == EWOULDBLOCK ? "another program holds its lock"
                                      : std::string("its lock: ") + std::strerror(errno);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

RecordLock::~RecordLock() {
  if (fd_ >= 0) close(fd_);  // the lock goes with the descriptor
}

}  // namespace clockagent
