// The record's folder on Windows, and who may do what in it.
#include "record/record_folder_win32.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>

#include "record/service_sid_win32.h"
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

struct LocalDeleter {
  void operator()(void* p) const { LocalFree(p); }
};
using LocalPtr = std::unique_ptr<void, LocalDeleter>;

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

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

bool IsSid(PSID sid, const char* text) {
  const LocalPtr other = SidOf(text);
  return other != nullptr && EqualSid(sid, other.get());
}

// Rights that let their holder change a folder, what is in it, or who may.
constexpr DWORD kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                            FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                            WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Wine keeps no owner of its own for a file: every file is its unix user's, which is the account
// every program there runs as, and a file's access list is its unix mode. There that owner is
// taken for the administrators.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// True when someone other than the administrators and the system (and `alsoOurs`) may change the
// folder: anyone with a changing right, or the service with more than adding files to it and
// changing those.
bool LetsOthersChange(PACL dacl, bool present, PSID alsoOurs) {
  if (!present || dacl == nullptr) return true;  // no access list: everyone may do everything
  const std::string service = ServiceSidText();
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) return true;
    const auto* header = static_cast<ACE_HEADER*>(entry);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return true;  // conditions not weighed here
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if (IsSid(sid, "SY") || IsSid(sid, "BA")) continue;
    if (alsoOurs != nullptr && EqualSid(sid, alsoOurs)) continue;
    DWORD forbidden = kChanging;
    if (IsSid(sid, service.c_str())) {
      // Its files it may change and replace; the folder itself, only add files to.
      forbidden = WRITE_DAC | WRITE_OWNER | GENERIC_ALL | FILE_DELETE_CHILD;
      if (!(header->AceFlags & INHERIT_ONLY_ACE)) forbidden |= DELETE | FILE_ADD_SUBDIRECTORY;
    }
    if (allowed->Mask & forbidden) return true;
  }
  return false;
}

// The owner and access list as SDDL, to tell a folder's access from the one it should have.
std::string SddlOf(PSECURITY_DESCRIPTOR descriptor) {
  char* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &text, nullptr)) {
    return "";
  }
  std::string sddl = text;
  LocalFree(text);
  return sddl;
}

enum class Verdict { Ours, Narrower, Stranger, Wide };

Verdict Judge(HANDLE folder, const std::string& wanted) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return Verdict::Stranger;
  }
  const LocalPtr held(descriptor);
  const bool wine = UnderWine();
  if (owner == nullptr || !(wine || IsSid(owner, "BA") || IsSid(owner, "SY"))) {
    return Verdict::Stranger;
  }
  if (LetsOthersChange(dacl, dacl != nullptr, wine ? owner : nullptr)) return Verdict::Wide;
  return SddlOf(descriptor) == wanted ? Verdict::Ours : Verdict::Narrower;
}

// `security` as the SDDL this system writes it back, with the administrators as owner.
std::string Normalized(const std::string& security, LocalPtr* descriptor) {
  PSECURITY_DESCRIPTOR made = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(("O:BA" + security).c_str(),
                                                            SDDL_REVISION_1, &made, nullptr)) {
    return "";
  }
  descriptor->reset(made);
  return SddlOf(made);
}

// A file of the record in a folder that others could change: it may be a link to a file of the
// system, which the record must never be written through, and is removed then, as is every file
// of a folder that was another account's. A plain file keeps its lines, but the administrators
// become its owner and it keeps only the access the folder passes on.
void ReclaimFile(const std::string& path, bool remove) {
  Handle file;
  file.h = CreateFileA(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | DELETE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
  if (file.h == INVALID_HANDLE_VALUE) return;
  BY_HANDLE_FILE_INFORMATION information{};
  if (remove || !GetFileInformationByHandle(file.h, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      information.nNumberOfLinks != 1) {
    FILE_DISPOSITION_INFO gone{TRUE};  // the link itself, not what it names
    SetFileInformationByHandle(file.h, FileDispositionInfo, &gone, sizeof gone);
    return;
  }
  ACL empty{};
  InitializeAcl(&empty, sizeof empty, ACL_REVISION);
  const LocalPtr administrators = SidOf("BA");
  SetSecurityInfo(file.h, SE_FILE_OBJECT,
                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                      UNPROTECTED_DACL_SECURITY_INFORMATION,
                  administrators.get(), nullptr, &empty, nullptr);
}

}  // namespace

std::string RecordFolderSecurity() {
  // The service: on the folder, to list it and add files (0x1200ab); on the files it gets, to
  // read, write and remove them (0x1301bf).
  const std::string service = ServiceSidText();
  return "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;" + service +
         ")(A;OIIO;0x1301bf;;;" + service + ")(A;OICI;FRFX;;;BU)";
}

bool SecureFolder(const std::string& folder, const std::string& security, std::string* refusal,
                  FolderFound* before) {
  if (before != nullptr) *before = FolderFound::Ours;
  LocalPtr descriptor;
  const std::string wanted = Normalized(security, &descriptor);
  if (wanted.empty()) {
    *refusal = "its access cannot be written";
    return false;
  }
  const FolderRights rights;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  attributes.lpSecurityDescriptor = descriptor.get();
  // Made only with the administrators as owner, which only an elevated program may give: a folder
  // another program made would be its account's, and refused below.
  CreateDirectoryA(folder.c_str(), &attributes);
  // The folder itself, never what a junction or link there points to.
  Handle handle;
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  handle.h = CreateFileA(folder.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER, share, nullptr,
                         OPEN_EXISTING, flags, nullptr);
  const bool mayRepair = handle.h != INVALID_HANDLE_VALUE;
  if (!mayRepair) {
    handle.h = CreateFileA(folder.c_str(), READ_CONTROL, share, nullptr, OPEN_EXISTING, flags,
                           nullptr);
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (handle.h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle.h, &information)) {
    *refusal = "it cannot be made or read";
    return false;
  }
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    *refusal = "it is a junction or link to elsewhere";
    return false;
  }
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *refusal = "it is not a folder";
    return false;
  }
  const Verdict found = Judge(handle.h, wanted);
  if (found == Verdict::Ours) return true;
  if (mayRepair) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted);
    GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted);
    if (SetSecurityInfo(handle.h, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                            PROTECTED_DACL_SECURITY_INFORMATION,
                        owner, nullptr, dacl, nullptr) == ERROR_SUCCESS) {
      // Read back, not trusted: a file system may keep less than it was given (wine: the mode).
      const Verdict now = Judge(handle.h, wanted);
      if (now == Verdict::Ours || now == Verdict::Narrower) {
        if (before != nullptr && found != Verdict::Narrower) {
          *before = found == Verdict::Stranger ? FolderFound::OthersOwn
                                               : FolderFound::OthersMayChange;
        }
        return true;
      }
    }
  }
  if (found == Verdict::Narrower) return true;  // an administrator's narrowing is kept
  *refusal = found == Verdict::Stranger
                 ? "it belongs to another account than the administrators or the system"
                 : "others than the administrators and the system may change it";
  return false;
}

std::string RecordPath() {
  const std::string folder = Folder();
  return folder.empty() ? "" : folder + "\\updates.csv";
}

bool MakeRecordFolder(std::string* refusal) {
  refusal->clear();
  const std::string folder = Folder();
  if (folder.empty()) return false;
  const std::string company = folder.substr(0, folder.find_last_of('\\'));
  std::string why;
  FolderFound before = FolderFound::Ours;
  const FolderRights rights;  // for the files in it too
  // The maker's folder too: its owner could rename the record's folder and put another there.
  const bool secured = SecureFolder(company, kCompanyFolderSecurity, &why) &&
                       SecureFolder(folder, RecordFolderSecurity(), &why, &before);
  if (!secured) {
    *refusal = "ClockAgent writes no record in " + folder + ": " +
               (why.empty() ? "it cannot be made" : why) +
               ", and only an administrator can set that right. Remove the folder, or give it to "
               "the administrators, and start ClockAgent again.";
    return false;
  }
  if (before != FolderFound::Ours) {
    for (const char* name : {"updates.csv", "updates.1.csv", "updates.lock"}) {
      ReclaimFile(folder + "\\" + name, before == FolderFound::OthersOwn);
    }
  }
  return true;
}

bool MakeRecordFolder() {
  std::string refusal;
  return MakeRecordFolder(&refusal);
}

bool RevokeRecordFolderGrant() {
  const std::string folder = Folder();
  if (folder.empty()) return true;
  Handle handle;
  handle.h = CreateFileA(folder.c_str(), READ_CONTROL | WRITE_DAC,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
  if (handle.h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle.h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const LocalPtr held(descriptor);
  if (dacl == nullptr) return false;
  const LocalPtr service = SidOf(ServiceSidText());
  if (service == nullptr) return false;
  // The same entries but the service's, in their order.
  for (DWORD i = dacl->AceCount; i-- > 0;) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) return false;
    const auto* header = static_cast<ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    PSID sid = const_cast<DWORD*>(&static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart);
    if (EqualSid(sid, service.get()) && !DeleteAce(dacl, i)) return false;
  }
  return SetSecurityInfo(handle.h, SE_FILE_OBJECT,
                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                         nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

}  // namespace clockagent
