// The record's folder under wine: one an ordinary user made first for everyone is taken back.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "record/record_folder_win32.h"

namespace clockagent::test {
namespace {

// The folder's owner and access list as SDDL.
std::string Security(const std::string& folder) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  char* text = nullptr;
  const DWORD parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr,
                            nullptr, &sd) != ERROR_SUCCESS ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, parts, &text,
                                                            nullptr)) {
    return "unreadable";
  }
  const std::string sddl = text;
  LocalFree(text);
  LocalFree(sd);
  return sddl;
}

TEST(RecordFolder, OneEveryoneMayChangeIsTakenBack) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "clockagent-record-" +
                             std::to_string(GetCurrentProcessId());
  // Made first by someone else, for everyone to change (under wine: mode 0777).
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  PSECURITY_DESCRIPTOR everyone = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &everyone, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(everyone, &present, &dacl, &defaulted);
  ASSERT_EQ(SetNamedSecurityInfoA(const_cast<char*>(folder.c_str()), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  LocalFree(everyone);
  const std::string wide = Security(folder);
  ASSERT_TRUE(wide.find("FA;;;WD)") != std::string::npos ||
              wide.find("0x1301ff;;;WD)") != std::string::npos) << wide;

  std::string refusal;
  EXPECT_TRUE(SecureFolder(folder, RecordFolderSecurity(), &refusal)) << refusal;
  const std::string taken = Security(folder);
  EXPECT_EQ(taken.find("FA;;;WD)"), std::string::npos) << taken;
  EXPECT_EQ(taken.find("0x1301ff;;;WD)"), std::string::npos) << taken;
  RemoveDirectoryA(folder.c_str());
}

}  // namespace
}  // namespace clockagent::test
