// Writing the record's file on Windows.
#include "record/record_file.h"

#include <windows.h>

#include "receiver/system_words_win32.h"

namespace clockagent {

std::string AppendToFile(const std::string& path, const std::string& text) {
  // A reparse point there is opened itself, not followed, and then refused.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return SystemWords(GetLastError());
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER before{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      !GetFileSizeEx(file, &before)) {
    CloseHandle(file);
    return "it is not a regular file";
  }
  std::string failure;
  DWORD wrote = 0;
  if (!SetFilePointerEx(file, before, nullptr, FILE_BEGIN) ||
      !WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr)) {
    failure = SystemWords(GetLastError());
  } else if (wrote != text.size()) {
    failure = "the disk is full";
  }
  // Half a line would have the next glued to it.
  if (wrote > 0 && wrote != text.size() &&
      (!SetFilePointerEx(file, before, nullptr, FILE_BEGIN) || !SetEndOfFile(file))) {
    failure += ", and cutting back the part written failed: " + SystemWords(GetLastError());
  }
  if (!CloseHandle(file) && failure.empty()) failure = SystemWords(GetLastError());
  return failure;
}

}  // namespace clockagent
