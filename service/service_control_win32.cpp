// Registering, removing, finding and asking the ClockAgent service through the service manager
// and the service's pipes.
#include "service/service_control_win32.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "record/event_log_win32.h"
#include "record/folder_security_win32.h"
#include "record/record_folder_win32.h"
#include "record/service_sid_win32.h"
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

ServiceInstall InstallService() {
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, sizeof program);
  const std::string command = std::string("\"") + program + "\" service run";
  // The service runs this file, as it finds it, with the service's rights at every start.
  const std::string folder(program, std::strrchr(program, '\\') - program);
  if (OthersMayChangeItem(ReadItemSecurity(folder)) || OthersMayChangeItem(ReadItemSecurity(program))) {
    return ServiceInstall::UnsafeFolder;
  }

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

DWORD ServiceProcessId() {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.handle == nullptr) return 0;
  ServiceHandle service(OpenServiceA(manager.handle, kServiceName, SERVICE_QUERY_STATUS));
  SERVICE_STATUS_PROCESS status{};
  DWORD size = 0;
  if (service.handle == nullptr ||
      !QueryServiceStatusEx(service.handle, SC_STATUS_PROCESS_INFO,
                            reinterpret_cast<BYTE*>(&status), sizeof status, &size) ||
      status.dwCurrentState == SERVICE_STOPPED) {
    return 0;
  }
  return status.dwProcessId;
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
  const char* message = RefusalMessage(reply);
  *refusal = message != nullptr ? message : reply;
  return ControlAnswer::Refused;
}

PipeAnswer AskServiceState(ServiceState* state) {
  std::string reply;
  const PipeAnswer answer = AskService(kStatePipeName, EncodeRequest(ServiceRequest::State), &reply);
  if (answer != PipeAnswer::Answered) return answer;
  return DecodeState(reply, state) ? answer : PipeAnswer::Failed;
}

}  // namespace clockagent
