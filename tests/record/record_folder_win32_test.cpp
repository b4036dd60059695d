// The record's folder under wine: the verdicts on a folder, one an ordinary user made first for
// everyone set aside, and the fresh one held.
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

// Wine keeps neither owners nor junctions of its own: those are judged as given.
TEST(RecordFolder, Verdicts) {
  const FolderAccess access = RecordFolderAccess();
  const std::string record = RecordPath(), own = "O:BA" + access.security;
  char self[MAX_PATH];
  ASSERT_NE(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  ASSERT_TRUE(MakeRecordFolder() && RevokeRecordFolderGrant());
  const unsigned long folder = FILE_ATTRIBUTE_DIRECTORY;
  const struct {
    const char* what;
    ItemSecurity item;
    FolderVerdict verdict;
  } rows[] = {
      {"its own", {folder, own}, FolderVerdict::Ours},
      {"a junction", {folder | FILE_ATTRIBUTE_REPARSE_POINT, own}, FolderVerdict::Junction},
      {"a stranger's", {folder, "O:S-1-5-21-1-2-3-1001" + access.security},
       FolderVerdict::OthersOwn},
      {"everyone's to change", {folder, "O:SYD:P(A;OICI;FA;;;WD)"},
       FolderVerdict::OthersMayChange},
      {"unreadable", {folder, ""}, FolderVerdict::Unreadable},
      {"a file", ReadItemSecurity(self), FolderVerdict::NotAFolder},
      {"nothing", ReadItemSecurity(std::string(self) + ".none"), FolderVerdict::Missing},
      {"the record's without the service's grant",
       ReadItemSecurity(record.substr(0, record.find_last_of('\\'))), FolderVerdict::Narrower},
  };
  for (const auto& row : rows) EXPECT_EQ(JudgeFolder(row.item, access), row.verdict) << row.what;
  EXPECT_STRNE(RefusalOf(FolderVerdict::Unreadable), RefusalOf(FolderVerdict::OthersOwn));
  EXPECT_TRUE(MakeRecordFolder());  // the service's grant given back
}

TEST(RecordFolder, OneEveryoneMayChangeIsSetAsideAndTheFreshOneHeldAtEachUse) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "clockagent-record-" +
                             std::to_string(GetCurrentProcessId());
  // Made first by someone else, for everyone to change (under wine: mode 0777), a file in it.
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
  const std::string planted = "\\record.csv";
  const HANDLE file = CreateFileA((folder + planted).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);

  std::string refusal, aside;
  EXPECT_TRUE(SecureFolder(folder, RecordFolderAccess(), &refusal, &aside)) << refusal;
  EXPECT_EQ(aside.rfind(folder + " (set aside ", 0), 0u) << aside;
  EXPECT_NE(GetFileAttributesA((aside + planted).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA((folder + planted).c_str()), INVALID_FILE_ATTRIBUTES);
  const std::string fresh = Security(folder);
  EXPECT_EQ(fresh.find("FA;;;WD)"), std::string::npos) << fresh;
  EXPECT_EQ(fresh.find("0x1301ff;;;WD)"), std::string::npos) << fresh;

  const std::string elsewhere = folder + ".elsewhere";
  {
    const HeldFolder held(folder, RecordFolderAccess());
    EXPECT_STREQ(held.Refusal(), "");
    EXPECT_FALSE(MoveFileA(folder.c_str(), elsewhere.c_str()));  // nothing swapped in meanwhile
  }
  ASSERT_TRUE(MoveFileA(folder.c_str(), elsewhere.c_str()));
  EXPECT_STREQ(HeldFolder(folder, RecordFolderAccess()).Refusal(), RefusalOf(FolderVerdict::Missing));
  RemoveDirectoryA(elsewhere.c_str());
  DeleteFileA((aside + planted).c_str());
  RemoveDirectoryA(aside.c_str());
}

}  // namespace
}  // namespace clockagent::test
