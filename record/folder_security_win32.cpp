// Judging a folder's owner and access list, and repairing them, on Windows.
#include "record/folder_security_win32.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

namespace clockagent {
namespace {

struct LocalDeleter {
  void operator()(void* p) const { LocalFree(p); }
};
using LocalPtr = std::unique_ptr<void, LocalDeleter>;

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (Valid()) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

// The item at `path` itself, never what a junction or link there points to; its attributes may
// always be read.
Handle OpenItself(const std::string& path, DWORD access) {
  return Handle(CreateFileA(path.c_str(), access | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// The backup and restore rights of an elevated administrator, on while a folder is checked and
// repaired: with them the folder opens to have its owner and access set whatever its access says
// (a stranger's folder may shut the administrators out). Put back as they were afterwards.
class FolderRights {
 public:
  FolderRights() {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token_)) {
      token_ = nullptr;
      return;
    }
    struct {
      DWORD count;
      LUID_AND_ATTRIBUTES privileges[2];
    } wanted{2, {}};
    LookupPrivilegeValueA(nullptr, SE_BACKUP_NAME, &wanted.privileges[0].Luid);
    LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &wanted.privileges[1].Luid);
    wanted.privileges[0].Attributes = wanted.privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD size = sizeof before_;
    if (!AdjustTokenPrivileges(token_, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted),
                               sizeof before_, reinterpret_cast<TOKEN_PRIVILEGES*>(before_),
                               &size)) {
      CloseHandle(token_);
      token_ = nullptr;
    }
  }
  ~FolderRights() {
    if (token_ == nullptr) return;
    AdjustTokenPrivileges(token_, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(before_), 0, nullptr,
                          nullptr);
    CloseHandle(token_);
  }
  FolderRights(const FolderRights&) = delete;
  FolderRights& operator=(const FolderRights&) = delete;

 private:
  HANDLE token_ = nullptr;
  alignas(TOKEN_PRIVILEGES) BYTE before_[sizeof(TOKEN_PRIVILEGES) + 2 * sizeof(LUID_AND_ATTRIBUTES)] = {};
};

LocalPtr SidOf(const std::string& text) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidA(text.c_str(), &sid)) return nullptr;
  return LocalPtr(sid);
}

bool IsSid(PSID sid, const std::string& text) {
  const LocalPtr other = SidOf(text);
  return other != nullptr && EqualSid(sid, other.get());
}

constexpr SECURITY_INFORMATION kOwnerAndAccess =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// The owner and access list as SDDL, to tell a folder's access from the one it should have.
std::string SddlOf(PSECURITY_DESCRIPTOR descriptor) {
  char* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                            kOwnerAndAccess, &text, nullptr)) {
    return "";
  }
  std::string sddl = text;
  LocalFree(text);
  return sddl;
}

LocalPtr DescriptorOf(const std::string& sddl) {
  PSECURITY_DESCRIPTOR made = nullptr;
  if (sddl.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                          sddl.c_str(), SDDL_REVISION_1, &made, nullptr)) {
    return nullptr;
  }
  return LocalPtr(made);
}

// `security` with the administrators as owner, and the SDDL this system writes it back as.
std::string Normalized(const std::string& security, LocalPtr* descriptor) {
  *descriptor = DescriptorOf("O:BA" + security);
  return *descriptor == nullptr ? "" : SddlOf(descriptor->get());
}

ItemSecurity SecurityOf(HANDLE item) {
  ItemSecurity read{INVALID_FILE_ATTRIBUTES, ""};
  BY_HANDLE_FILE_INFORMATION information{};
  if (item == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(item, &information)) return read;
  read.attributes = information.dwFileAttributes;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(item, SE_FILE_OBJECT, kOwnerAndAccess, nullptr, nullptr, nullptr,
                      nullptr, &descriptor) == ERROR_SUCCESS) {
    const LocalPtr held(descriptor);
    read.sddl = SddlOf(descriptor);
  }
  return read;
}

// Calls visit(index, entry) for each entry of `dacl`, the last first, so that it may delete the
// entry it is given; it returns false to stop. False when stopped or an entry cannot be read.
template <typename Visit>
bool EachAce(PACL dacl, Visit visit) {
  for (DWORD i = dacl->AceCount; i-- > 0;) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry) || !visit(i, static_cast<ACE_HEADER*>(entry))) return false;
  }
  return true;
}

ACCESS_ALLOWED_ACE* Allowed(ACE_HEADER* entry) {
  return entry->AceType == ACCESS_ALLOWED_ACE_TYPE ? reinterpret_cast<ACCESS_ALLOWED_ACE*>(entry)
                                                   : nullptr;
}

// Wine keeps no owner of its own for a file: every file is its unix user's, which is the account
// every program there runs as, and a file's access list is its unix mode. There that account is
// taken for the administrators; elsewhere this is empty.
std::string WineUser() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  HANDLE token = nullptr;
  if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr ||
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return "";
  }
  alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  char* text = nullptr;
  const bool read = GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                    ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text);
  CloseHandle(token);
  if (!read) return "";
  const std::string sid = text;
  LocalFree(text);
  return sid;
}

bool IsOurs(PSID sid, const std::string& wineUser) {
  return IsSid(sid, "SY") || IsSid(sid, "BA") || IsSid(sid, wineUser);
}

// Rights that let their holder change a folder, what is in it, or who may.
constexpr DWORD kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                            FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                            WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// True when someone other than the administrators and the system may change the folder: anyone
// with a changing right, or the adder with more than adding files to it and changing those.
bool LetsOthersChange(PACL dacl, const std::string& adder, const std::string& wineUser) {
  if (dacl == nullptr) return true;  // no access list: everyone may do everything
  return !EachAce(dacl, [&](DWORD, ACE_HEADER* entry) {
    if (entry->AceType == ACCESS_DENIED_ACE_TYPE) return true;
    const ACCESS_ALLOWED_ACE* allowed = Allowed(entry);
    if (allowed == nullptr) return false;  // conditions not weighed here
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if (IsOurs(sid, wineUser)) return true;
    DWORD forbidden = kChanging;
    if (IsSid(sid, adder)) {
      // Its files it may change and replace; the folder itself, only add files to.
      forbidden = WRITE_DAC | WRITE_OWNER | GENERIC_ALL | FILE_DELETE_CHILD;
      if (!(entry->AceFlags & INHERIT_ONLY_ACE)) forbidden |= DELETE | FILE_ADD_SUBDIRECTORY;
    }
    return !(allowed->Mask & forbidden);
  });
}

// Renames the folder `handle` has open to "<folder> (set aside <UTC time>)": the item itself, not
// whatever its path may lead to by now. Its new path; empty when it could not be renamed.
std::string MoveAside(const Handle& handle, const std::string& folder) {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, " (set aside %04u-%02u-%02u %02u.%02u.%02u)", now.wYear,
                now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  const std::string aside = folder + stamp;
  const std::string target = "\\??\\" + aside;  // the system's own form of the path
  const int chars = MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, nullptr, 0);
  if (chars <= 1) return "";
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + static_cast<std::size_t>(chars) * sizeof(WCHAR));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->FileNameLength = static_cast<DWORD>(chars - 1) * sizeof(WCHAR);
  MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, rename->FileName, chars);
  return SetFileInformationByHandle(handle.Get(), FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size()))
             ? aside
             : "";
}

}  // namespace

const char* RefusalOf(FolderVerdict verdict) {
  switch (verdict) {
    case FolderVerdict::Ours:
    case FolderVerdict::Narrower:
      return "";
    case FolderVerdict::OthersMayChange:
      return "others than the administrators and the system may change it";
    case FolderVerdict::OthersOwn:
      return "it belongs to another account than the administrators or the system";
    case FolderVerdict::Unreadable:
      return "its owner and access cannot be read";
    case FolderVerdict::NotAFolder:
      return "it is not a folder";
    case FolderVerdict::Junction:
      return "it is a junction or link to elsewhere";
    case FolderVerdict::Missing:
      break;
  }
  return "it cannot be made or read";
}

ItemSecurity ReadItemSecurity(const std::string& path) {
  return SecurityOf(OpenItself(path, READ_CONTROL).Get());
}

bool OthersMayChangeItem(const ItemSecurity& item) {
  // Windows' own installer account, which holds what is under Program Files as the system does.
  constexpr char kTrustedInstaller[] =
      "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  const LocalPtr descriptor = DescriptorOf(item.sddl);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (item.attributes == INVALID_FILE_ATTRIBUTES || descriptor == nullptr ||
      !GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present ||
      dacl == nullptr) {
    return true;  // what cannot be read, or has no access list, is taken for the worst
  }
  const std::string wineUser = WineUser();
  const auto trusted = [&](PSID sid) { return IsOurs(sid, wineUser) || IsSid(sid, kTrustedInstaller); };
  if (owner == nullptr || !trusted(owner)) return true;  // an owner may change its access
  return !EachAce(dacl, [&](DWORD, ACE_HEADER* entry) {
    if (entry->AceType == ACCESS_DENIED_ACE_TYPE || (entry->AceFlags & INHERIT_ONLY_ACE)) {
      return true;  // what is only passed on does not apply to the item itself
    }
    const ACCESS_ALLOWED_ACE* allowed = Allowed(entry);
    if (allowed == nullptr) return false;
    return trusted(const_cast<DWORD*>(&allowed->SidStart)) || !(allowed->Mask & kChanging);
  });
}

FolderVerdict JudgeFolder(const ItemSecurity& item, const FolderAccess& access) {
  if (item.attributes == INVALID_FILE_ATTRIBUTES) return FolderVerdict::Missing;
  if (item.attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderVerdict::Junction;
  if (!(item.attributes & FILE_ATTRIBUTE_DIRECTORY)) return FolderVerdict::NotAFolder;
  const LocalPtr descriptor = DescriptorOf(item.sddl);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (descriptor == nullptr || !GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted)) {
    return FolderVerdict::Unreadable;
  }
  const std::string wineUser = WineUser();
  if (owner == nullptr || !IsOurs(owner, wineUser)) return FolderVerdict::OthersOwn;
  if (LetsOthersChange(present ? dacl : nullptr, access.adder, wineUser)) {
    return FolderVerdict::OthersMayChange;
  }
  LocalPtr wanted;
  return SddlOf(descriptor.get()) == Normalized(access.security, &wanted) ? FolderVerdict::Ours
                                                                           : FolderVerdict::Narrower;
}

bool SecureFolder(const std::string& folder, const FolderAccess& access, std::string* refusal,
                  std::string* setAside) {
  LocalPtr descriptor;
  if (Normalized(access.security, &descriptor).empty()) {
    *refusal = "its access cannot be written";
    return false;
  }
  const FolderRights rights;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  // Made only with the administrators as owner, which only an elevated program may give: a folder
  // another program made would be its account's, and set aside below.
  CreateDirectoryA(folder.c_str(), &attributes);
  const Handle handle = OpenItself(folder, READ_CONTROL | DELETE);
  const FolderVerdict verdict =
      JudgeFolder(handle.Valid() ? SecurityOf(handle.Get()) : ReadItemSecurity(folder), access);
  switch (verdict) {
    case FolderVerdict::Ours:
    case FolderVerdict::Narrower:  // an administrator's narrowing is kept
      return true;
    case FolderVerdict::Missing:
    case FolderVerdict::Junction:
    case FolderVerdict::NotAFolder:
      *refusal = RefusalOf(verdict);
      return false;
    default:
      break;
  }
  // Not repaired in place: whoever opened it or its files before would keep the rights of their
  // handles. It goes aside whole, with what is in it, and a fresh one takes its place.
  const std::string aside = handle.Valid() ? MoveAside(handle, folder) : "";
  if (aside.empty()) {
    *refusal = RefusalOf(verdict);
    return false;
  }
  if (setAside != nullptr) *setAside = aside;
  CreateDirectoryA(folder.c_str(), &attributes);
  const FolderVerdict fresh = JudgeFolder(ReadItemSecurity(folder), access);
  if (fresh == FolderVerdict::Ours || fresh == FolderVerdict::Narrower) return true;
  *refusal = RefusalOf(fresh);
  return false;
}

HeldFolder::HeldFolder(const std::string& folder, const FolderAccess& access) {
  // Shared for reading and writing, not for removing: while held, no one can rename or remove it,
  // nor put a junction in its place.
  handle_ = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | READ_CONTROL | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    refusal_ = RefusalOf(FolderVerdict::Missing);
    return;
  }
  refusal_ = RefusalOf(JudgeFolder(SecurityOf(handle_), access));
}

HeldFolder::~HeldFolder() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool RevokeFolderGrant(const std::string& folder, const std::string& sid) {
  const Handle handle = OpenItself(folder, READ_CONTROL | WRITE_DAC);
  if (!handle.Valid()) return GetLastError() == ERROR_FILE_NOT_FOUND;
  const LocalPtr descriptor = DescriptorOf(SecurityOf(handle.Get()).sddl);
  const LocalPtr grantee = SidOf(sid);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (descriptor == nullptr || grantee == nullptr ||
      !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) ||
      dacl == nullptr) {
    return false;
  }
  // The same entries but the grantee's, in their order.
  const bool revoked = EachAce(dacl, [&](DWORD i, ACE_HEADER* entry) {
    const ACCESS_ALLOWED_ACE* allowed = Allowed(entry);
    return allowed == nullptr ||
           !EqualSid(const_cast<DWORD*>(&allowed->SidStart), grantee.get()) || DeleteAce(dacl, i);
  });
  return revoked && SetSecurityInfo(handle.Get(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

}  // namespace clockagent
