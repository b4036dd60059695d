// The record's lock on Windows: the lock file opened with no sharing, which no other writer can
// open while it is held.
#include "record/record_lock.h"

#include <windows.h>

namespace clockagent {

RecordLock::RecordLock(const std::string& recordPath, int waitMs) {
  const std::string path = LockPathOf(recordPath);
  const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(waitMs);
  for (;;) {
    // Its own access comes from the folder's; a reparse point there is opened, not followed.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = file;
      held_ = true;
      return;
    }
    // Held by another writer; anything else (no access, no folder) will not pass by waiting.
    if (GetLastError() != ERROR_SHARING_VIOLATION || GetTickCount64() >= until) return;
    Sleep(2);
  }
}

RecordLock::~RecordLock() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

}  // namespace clockagent
