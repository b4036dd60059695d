// clockagent w32time: registers, removes and asks the time provider through which Windows Time
// takes the receiver's samples (ClockAgentTimeProvider.dll beside this program).
#include <windows.h>

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/options.h"
#include "record/folder_security_win32.h"
#include "service/service_control_win32.h"
#include "service/service_state.h"
#include "update/windows_time.h"
#include "w32time/provider_registration_win32.h"

namespace clockagent {
namespace {

const char kW32timeHelp[] =
    "Usage: clockagent w32time install|remove|status\n"
    "\n"
    "Windows Time can keep the clock from the receiver itself: ClockAgentTimeProvider.dll, beside\n"
    "this program, is a time provider that Windows Time loads. It reads the stored settings (port,\n"
    "line settings, time type, pulse, latency, protocol, limit), reads the receiver every second as\n"
    "'clockagent refclock' does on Linux, and hands Windows Time each timing packet's sample;\n"
    "Windows Time disciplines the clock and serves the time onward. Choose it where Windows Time\n"
    "must stay in charge (a domain member, a machine serving NTP); choose the service elsewhere.\n"
    "The provider and the service or window must not both set the clock: install refuses while the\n"
    "service runs its updates, and the window's Start refuses while the provider is enabled.\n"
    "install and remove need an administrator's console.\n"
    "\n"
    "  install   register the provider with Windows Time (DllName, Enabled 1, InputProvider 1\n"
    "            under HKLM\\SYSTEM\\CurrentControlSet\\Services\\W32Time\\TimeProviders\\ClockAgent)\n"
    "            and have Windows Time read its configuration again (w32tm /config /update)\n"
    "  remove    take the provider's key away, and have Windows Time read its configuration again\n"
    "  status    whether the provider is registered and enabled, and, while Windows Time runs,\n"
    "            the source it follows (w32tm /query /source)\n"
    "\n"
    "Exit status: 0 when done (status: registered and enabled), 1 when it could not be done\n"
    "(status: registered but disabled), 2 for bad usage, 3 when the provider is not registered.\n";

constexpr int kNotRegistered = 3;

int Fail(const char* command, const std::string& message, int status = 1) {
  std::fprintf(stderr, "clockagent w32time %s: %s\n", command, message.c_str());
  return status;
}

std::string NeedsAdministrator(const char* what) {
  return std::string("an administrator must ") + what +
         " (run it in a console opened with \"Run as administrator\")";
}

// w32tm's full path in the system folder; empty when this system has none (as under wine). Never
// searched for: an administrator's current folder or PATH could hold another w32tm.exe.
std::string W32tmPath() {
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  const std::string path = std::string(folder, length) + "\\w32tm.exe";
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0
             ? path
             : std::string();
}

// Runs w32tm with `args`, its output in `*output`; its exit code, or -1 when it did not run.
int RunW32tm(const std::string& program, const char* args, std::string* output) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::string command = "\"" + program + "\" " + args;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return -1;
  }
  char buffer[512];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    output->append(buffer, got);
  }
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, 30000);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(code);
}

// Has Windows Time read its configuration again, and says how that went.
void UpdateWindowsTime() {
  const std::string w32tm = W32tmPath();
  if (w32tm.empty()) {
    std::printf("w32tm is not on this system (nor is Windows Time under wine): Windows Time reads "
                "the change when it next starts\n");
    return;
  }
  std::string output;
  const int code = RunW32tm(w32tm, "/config /update", &output);
  if (code == 0) {
    std::printf("Windows Time has read its configuration again\n");
  } else {
    std::printf("Windows Time did not read its configuration again (w32tm /config /update: %d; "
                "is it running?): it reads the change when it next starts\n", code);
  }
}

// The provider's DLL beside this program; empty when it is not there.
std::string ProviderDllPath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string dll(path, length);
  dll = dll.substr(0, dll.find_last_of("\\/") + 1) + kProviderDllName;
  const DWORD attributes = GetFileAttributesA(dll.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return {};
  }
  return dll;
}

int Install() {
  // The service's updates and Windows Time would both set the clock.
  if (FindService() == ServicePresence::Running) {
    ServiceState state;
    if (AskServiceState(&state) != PipeAnswer::Answered || state.started) {
      return Fail("install",
                  "the ClockAgent service runs its updates, and it and Windows Time must not both "
                  "set the clock: stop them first (clockagent service stop) or remove the service");
    }
  }
  const std::string dll = ProviderDllPath();
  if (dll.empty()) {
    return Fail("install", std::string(kProviderDllName) + " is not beside this program");
  }
  // Windows Time loads the DLL, as it finds it, into its own process at every start.
  const std::string folder = dll.substr(0, dll.find_last_of("\\/"));
  if (OthersMayChangeItem(ReadItemSecurity(folder)) || OthersMayChangeItem(ReadItemSecurity(dll))) {
    return Fail("install",
                "other users may change the provider or its folder, and so what Windows Time "
                "runs: install ClockAgent under Program Files (its installer does) and register "
                "the provider from there");
  }
  switch (RegisterProvider(dll)) {
    case ProviderChange::Done:
    case ProviderChange::NotRegistered:
      break;
    case ProviderChange::NotAllowed:
      return Fail("install", NeedsAdministrator("register the provider"));
    case ProviderChange::Failed:
      return Fail("install", "cannot write the provider's key");
  }
  std::printf("registered the ClockAgent time provider: %s\n", dll.c_str());
  UpdateWindowsTime();
  return 0;
}

int Remove() {
  switch (UnregisterProvider()) {
    case ProviderChange::Done:
      break;
    case ProviderChange::NotRegistered:
      return Fail("remove", "the ClockAgent time provider is not registered", kNotRegistered);
    case ProviderChange::NotAllowed:
      return Fail("remove", NeedsAdministrator("remove the provider"));
    case ProviderChange::Failed:
      return Fail("remove", "cannot delete the provider's key");
  }
  std::printf("removed the ClockAgent time provider\n");
  UpdateWindowsTime();
  return 0;
}

int Status() {
  std::string dll;
  const ProviderPresence presence = FindProvider(&dll);
  if (presence == ProviderPresence::NotRegistered) {
    std::printf("ClockAgent time provider: not registered\n");
    return kNotRegistered;
  }
  std::printf("ClockAgent time provider: registered, %s\nDLL: %s\n",
              presence == ProviderPresence::Enabled ? "enabled" : "disabled",
              dll.empty() ? "(none)" : dll.c_str());
  const std::string w32tm = W32tmPath();
  if (!WindowsTimeRuns() || w32tm.empty()) {
    std::printf("Windows Time: not running\n");
  } else {
    std::string output;
    RunW32tm(w32tm, "/query /source", &output);
    output.erase(output.find_last_not_of(" \r\n") + 1);
    std::printf("Windows Time's source: %s\n", output.c_str());
  }
  return presence == ProviderPresence::Enabled ? 0 : 1;
}

}  // namespace

int RunW32timeCommand(int argc, char** argv) {
  if (argc != 1) {
    if (argc == 0) return Usage("w32time", "expects install, remove or status");
    return Usage("w32time", std::string("expects one command: ") + argv[1]);
  }
  const std::string command = argv[0];
  if (command == "--help" || command == "-h") {
    std::fputs(kW32timeHelp, stdout);
    return 0;
  }
  if (command == "install") return Install();
  if (command == "remove") return Remove();
  if (command == "status") return Status();
  return Usage("w32time", "unknown command: " + command);
}

}  // namespace clockagent
