// Registering, removing, finding and asking the ClockAgent service through the service manager
// and the service's pipes.
#include "service/service_control_win32.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

#include "record/event_log_win32.h"
#include "record/record_folder_win32.h"
#include "service/service_pipes_win32.h"
#include "settings/registry_store.h"
#include "version.h"

namespace clockagent {
namespace {

constexpr char kDescription[] =
    "Keeps the system clock set from a GPS timing receiver on a serial port.";
constexpr char kServiceAccount[] = "NT AUTHORITY\\LocalService";

// Closes a service-manager handle when it goes.
struct ServiceHandle {
  explicit ServiceHandle(SC_HANDLE h = nullptr) : handle(h) {}
  ~ServiceHandle() {
    if (handle != nullptr) CloseServiceHandle(handle);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE handle;
};

// Waits up to `seconds` for the service to reach `state`.
bool WaitForState(SC_HANDLE service, DWORD state, int seconds) {
  SERVICE_STATUS status{};
  for (int i = 0; i < seconds * 10; ++i) {
    if (!QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == state) return true;
    Sleep(100);
  }
  return false;
}

// Changes the settings key's DACL by `count` entries (SetEntriesInAcl's rules); everything else
// about the key stays as it is.
bool ChangeSettingsAccess(EXPLICIT_ACCESSA* entries, ULONG count) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, READ_CONTROL | WRITE_DAC,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  PACL current = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool done = false;
  if (GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                      nullptr, &descriptor) == ERROR_SUCCESS) {
    PACL updated = nullptr;
    if (SetEntriesInAclA(count, entries, current, &updated) == ERROR_SUCCESS) {
      done = SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                             updated, nullptr) == ERROR_SUCCESS;
      LocalFree(updated);
    }
    LocalFree(descriptor);
  }
  RegCloseKey(key);
  return done;
}

EXPLICIT_ACCESSA Entry(void* sid, DWORD rights, ACCESS_MODE mode) {
  EXPLICIT_ACCESSA entry{};
  entry.grfAccessPermissions = rights;
  entry.grfAccessMode = mode;
  entry.grfInheritance = NO_INHERITANCE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  entry.Trustee.ptstrName = static_cast<LPSTR>(sid);
  return entry;
}

// The service's own SID may read and write the settings key's values (it saves the settings at
// Start and keeps its schedule's state there), and nothing more: no subkeys, no changing the
// key's access. LocalService as a whole loses what an earlier install granted it, which every
// other service of that account would have shared.
bool LetTheServiceKeepItsSettings() {
  std::vector<unsigned char> service;
  BYTE localService[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof localService;
  if (!ServiceSid(&service) || !CreateWellKnownSid(WinLocalServiceSid, nullptr, localService, &size)) {
    return false;
  }
  EXPLICIT_ACCESSA entries[] = {Entry(localService, 0, REVOKE_ACCESS),
                                Entry(service.data(), KEY_QUERY_VALUE | KEY_SET_VALUE, SET_ACCESS)};
  return ChangeSettingsAccess(entries, 2);
}

// Takes the service SID's grant away again; a key that is gone has none to take.
void TakeTheSettingsBack() {
  std::vector<unsigned char> service;
  HKEY key = nullptr;
  if (!ServiceSid(&service) ||
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, READ_CONTROL, &key) != ERROR_SUCCESS) {
    return;
  }
  RegCloseKey(key);
  EXPLICIT_ACCESSA entry = Entry(service.data(), 0, REVOKE_ACCESS);
  ChangeSettingsAccess(&entry, 1);
}

}  // namespace

bool ServiceSidOf(const char* serviceName, std::vector<unsigned char>* sid) {
  // The upper-cased name in UTF-16LE, its SHA-1, and the hash's five 32-bit little-endian words
  // after the service authority's 80.
  const int length = MultiByteToWideChar(CP_UTF8, 0, serviceName, -1, nullptr, 0);
  if (length <= 1) return false;
  std::wstring name(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, serviceName, -1, &name[0], length);
  name.resize(static_cast<std::size_t>(length - 1));
  CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
  std::vector<unsigned char> bytes;
  for (wchar_t c : name) {
    bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    bytes.push_back(static_cast<unsigned char>((c >> 8) & 0xFF));
  }
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  BYTE digest[20];
  DWORD digestSize = sizeof digest;
  HCRYPTHASH hash = 0;
  const bool hashed = CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash) &&
                      CryptHashData(hash, bytes.data(), static_cast<DWORD>(bytes.size()), 0) &&
                      CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) &&
                      digestSize == sizeof digest;
  if (hash != 0) CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  if (!hashed) return false;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  sid->assign(GetSidLengthRequired(6), 0);
  if (!InitializeSid(sid->data(), &nt, 6)) return false;
  *GetSidSubAuthority(sid->data(), 0) = SECURITY_SERVICE_ID_BASE_RID;
  for (DWORD i = 0; i < 5; ++i) {
    *GetSidSubAuthority(sid->data(), i + 1) =
        static_cast<DWORD>(digest[4 * i]) | static_cast<DWORD>(digest[4 * i + 1]) << 8 |
        static_cast<DWORD>(digest[4 * i + 2]) << 16 | static_cast<DWORD>(digest[4 * i + 3]) << 24;
  }
  return true;
}

bool ServiceSid(std::vector<unsigned char>* sid) { return ServiceSidOf(kServiceName, sid); }

std::string ServiceSidText() {
  std::vector<unsigned char> sid;
  char* text = nullptr;
  if (!ServiceSid(&sid) || !ConvertSidToStringSidA(sid.data(), &text)) return std::string();
  std::string result = text;
  LocalFree(text);
  return result;
}

ServiceInstall InstallService() {
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, sizeof program);
  const std::string command = std::string("\"") + program + "\" service run";

  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (manager.handle == nullptr) return ServiceInstall::NotAllowed;
  if (!LetTheServiceKeepItsSettings()) return ServiceInstall::SettingsNotAllowed;
  // Its record's folder, and its Event Log source with this program as the message file.
  MakeRecordFolder();
  RegisterEventSourceFile(program);
  ServiceHandle service(CreateServiceA(manager.handle, kServiceName, kProductName,
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                       nullptr, nullptr, nullptr, kServiceAccount, nullptr));
  if (service.handle == nullptr) {
    if (GetLastError() != ERROR_SERVICE_EXISTS) return ServiceInstall::CannotRegister;
    service.handle = OpenServiceA(manager.handle, kServiceName, SERVICE_ALL_ACCESS);
    return service.handle == nullptr ? ServiceInstall::CannotOpen : ServiceInstall::AlreadyInstalled;
  }
  // A SID of its own in its token, which the settings key is granted to, so that no other
  // service running as LocalService shares the grant.
  SERVICE_SID_INFO sidInfo{SERVICE_SID_TYPE_UNRESTRICTED};
  ChangeServiceConfig2A(service.handle, SERVICE_CONFIG_SERVICE_SID_INFO, &sidInfo);
  SERVICE_DESCRIPTIONA description{const_cast<char*>(kDescription)};
  ChangeServiceConfig2A(service.handle, SERVICE_CONFIG_DESCRIPTION, &description);
  // Of LocalService's rights it keeps only the two it needs; a service manager that cannot
  // narrow them (wine) leaves the account's.
  char privileges[] = "SeSystemtimePrivilege\0SeChangeNotifyPrivilege\0";
  SERVICE_REQUIRED_PRIVILEGES_INFOA required{privileges};
  ChangeServiceConfig2A(service.handle, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required);
  return ServiceInstall::Registered;
}

bool RunInstalledService() {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.handle == nullptr) return false;
  ServiceHandle service(
      OpenServiceA(manager.handle, kServiceName, SERVICE_START | SERVICE_QUERY_STATUS));
  if (service.handle == nullptr) return false;
  if (!StartServiceA(service.handle, 0, nullptr) &&
      GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
    return false;
  }
  return WaitForState(service.handle, SERVICE_RUNNING, 10);
}

ServiceRemoval RemoveService() {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.handle == nullptr) return ServiceRemoval::NoManager;
  ServiceHandle service(OpenServiceA(manager.handle, kServiceName,
                                     DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (service.handle == nullptr) {
    return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ServiceRemoval::NotInstalled
                                                          : ServiceRemoval::NotAllowed;
  }
  SERVICE_STATUS status{};
  if (ControlService(service.handle, SERVICE_CONTROL_STOP, &status)) {
    WaitForState(service.handle, SERVICE_STOPPED, 20);
  }
  if (!DeleteService(service.handle) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
    return ServiceRemoval::CannotDelete;
  }
  TakeTheSettingsBack();
  return ServiceRemoval::Removed;
}

ServicePresence FindService() {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.handle == nullptr) return ServicePresence::NoManager;
  ServiceHandle service(OpenServiceA(manager.handle, kServiceName, SERVICE_QUERY_STATUS));
  if (service.handle == nullptr) {
    return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ServicePresence::NotInstalled
                                                          : ServicePresence::NoManager;
  }
  SERVICE_STATUS status{};
  const bool running =
      QueryServiceStatus(service.handle, &status) && status.dwCurrentState == SERVICE_RUNNING;
  return running ? ServicePresence::Running : ServicePresence::NotRunning;
}

ControlAnswer ControlUpdates(ServiceRequest request, std::string* refusal) {
  CycleChoices choices;
  if (request == ServiceRequest::Start) {
    std::unique_ptr<SettingsStore> store = NewRegistryStore();
    ServiceFront stored(*store);
    stored.Load();
    choices = stored.Choices();
  }
  std::string reply;
  switch (AskService(kControlPipeName, EncodeRequest(request, choices), &reply)) {
    case PipeAnswer::Answered: break;
    case PipeAnswer::AccessDenied: return ControlAnswer::NotAllowed;
    case PipeAnswer::NoService:
      return FindService() == ServicePresence::NotInstalled ? ControlAnswer::NotInstalled
                                                            : ControlAnswer::NotRunning;
    case PipeAnswer::Failed: return ControlAnswer::NoAnswer;
    case PipeAnswer::NotTheService: return ControlAnswer::NotTheService;
  }
  if (reply == kOkReply) return ControlAnswer::Done;
  *refusal = reply.substr(reply.rfind(':') + 2);
  return ControlAnswer::Refused;
}

PipeAnswer AskServiceState(ServiceState* state) {
  std::string reply;
  const PipeAnswer answer = AskService(kStatePipeName, EncodeRequest(ServiceRequest::State), &reply);
  if (answer != PipeAnswer::Answered) return answer;
  return DecodeState(reply, state) ? answer : PipeAnswer::Failed;
}

}  // namespace clockagent
