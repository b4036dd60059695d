// The record's folder on Windows.
#include "record/record_folder_win32.h"

#include <windows.h>

#include <sddl.h>
#include <shlobj.h>

#include "version.h"

namespace clockagent {
namespace {

// Asked of the shell, not the environment: a service need not have the variable.
std::string Folder() {
  char data[MAX_PATH];
  if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data) != S_OK) {
    return "";
  }
  return std::string(data) + "\\" CLOCKAGENT_COMPANY "\\" CLOCKAGENT_PRODUCT;
}

}  // namespace

std::string RecordPath() {
  const std::string folder = Folder();
  return folder.empty() ? "" : folder + "\\updates.csv";
}

bool MakeRecordFolder() {
  const std::string folder = Folder();
  if (folder.empty()) return false;
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          kRecordFolderSecurity, SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
    return false;
  }
  const std::string company = folder.substr(0, folder.find_last_of('\\'));
  CreateDirectoryA(company.c_str(), nullptr);  // inherits ProgramData's access
  CreateDirectoryA(folder.c_str(), &security);
  LocalFree(security.lpSecurityDescriptor);
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace clockagent
