// Whether Windows Time undoes the receiver's time, as the service manager and the registry say.
#include <windows.h>

#include "update/windows_time.h"

namespace clockagent {

bool WindowsTimeRuns(const char* service) {
  bool running = false;
  if (SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)) {
    if (SC_HANDLE handle = OpenServiceA(manager, service, SERVICE_QUERY_STATUS)) {
      SERVICE_STATUS status{};
      running = QueryServiceStatus(handle, &status) && status.dwCurrentState == SERVICE_RUNNING;
      CloseServiceHandle(handle);
    }
    CloseServiceHandle(manager);
  }
  return running;
}

bool WindowsTimeOverwrites(const char* service, const char* parametersKey) {
  const bool running = WindowsTimeRuns(service);
  char type[64] = {};
  DWORD size = sizeof type - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, parametersKey, "Type", RRF_RT_REG_SZ, nullptr, type,
                   &size) != ERROR_SUCCESS) {
    type[0] = '\0';
  }
  return WindowsTimeOverwrites(running, type);
}

}  // namespace clockagent
