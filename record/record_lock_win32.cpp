// The record's lock on Windows: LockFileEx on the lock file, which every writer opens anew with
// sharing and which is closed to everyone but its writers, so that no other user's handle, with
// or without sharing, can hold the record.
#include "record/record_lock.h"

#include <windows.h>

#include <sddl.h>

#include "receiver/system_words_win32.h"

namespace clockagent {
namespace {

// The system, administrators and the account that made it; no one else may open it.
constexpr char kLockFileSecurity[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)";

}  // namespace

RecordLock::RecordLock(const std::string& recordPath, int waitMs) {
  const std::string path = LockPathOf(recordPath);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  ConvertStringSecurityDescriptorToSecurityDescriptorA(kLockFileSecurity, SDDL_REVISION_1,
                                                       &attributes.lpSecurityDescriptor, nullptr);
  // A reparse point there is opened, not followed.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const DWORD opened = GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  if (file == INVALID_HANDLE_VALUE) {
    failure_ = "its lock file: " + SystemWords(opened);
    return;
  }
  handle_ = file;
  const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(waitMs);
  for (;;) {
    OVERLAPPED first{};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &first)) {
      held_ = true;
      return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_LOCK_VIOLATION || GetTickCount64() >= until) {
      failure_ = error == ERROR_LOCK_VIOLATION ? "another program holds its lock"
                                               : "its lock: " + SystemWords(error);
      return;
    }
    Sleep(2);
  }
}

RecordLock::~RecordLock() {
  // Closing the handle releases its lock.
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

}  // namespace clockagent
