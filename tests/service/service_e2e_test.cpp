// The ClockAgent service under wine, installed, driven and asked as an administrator does: with
// `clockagent service ...` and over its pipes. Run by scripts/wine-test.sh, whose COM12 broadcasts
// 0x8F-AB of the current time (wine takes a time within half a second of its own as set).
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "record/record_folder_win32.h"
#include "record/update_record.h"
#include "service/service_control_win32.h"
#include "service/service_pipes_win32.h"
#include "service/service_state.h"
#include "tests/support/wine.h"
#include "update/windows_time.h"
#include "w32time/provider_registration_win32.h"

namespace clockagent::test {
namespace {

struct CommandRun {
  int exitCode = -1;
  std::string out;
};

// `clockagent.com ARGS`, its standard output and error together.
CommandRun Clockagent(const std::string& args) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  CommandRun run;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process{};
  std::string command = "\"" + BuildFile("clockagent.com") + "\" " + args;
  if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                     nullptr, &startup, &process)) {
    CloseHandle(writeEnd);
    writeEnd = nullptr;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) run.out.append(buffer, got);
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    run.exitCode = static_cast<int>(code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  if (writeEnd != nullptr) CloseHandle(writeEnd);
  CloseHandle(readEnd);
  std::string text;  // without the console's carriage returns
  for (char c : run.out) {
    if (c != '\r') text += c;
  }
  run.out = text;
  return run;
}

ServiceState State() {
  std::string reply;
  ServiceState state;
  EXPECT_EQ(AskService(kStatePipeName, EncodeRequest(ServiceRequest::State), &reply),
            PipeAnswer::Answered);
  EXPECT_TRUE(DecodeState(reply, &state)) << reply;
  return state;
}

// The entries of a DACL in order, each "allow|deny MASK SID", and whether it is protected.
std::vector<std::string> Entries(PSECURITY_DESCRIPTOR descriptor) {
  std::vector<std::string> entries;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  entries.push_back((control & SE_DACL_PROTECTED) ? "protected" : "inherits");
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || dacl == nullptr) {
    return entries;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    // Allowed and denied entries have the same layout.
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    char* sid = nullptr;
    ConvertSidToStringSidA(const_cast<DWORD*>(&ace->SidStart), &sid);
    char mask[16];
    std::snprintf(mask, sizeof mask, "%08lx", static_cast<unsigned long>(ace->Mask));
    entries.push_back(std::string(header->AceType == ACCESS_DENIED_ACE_TYPE ? "deny " : "allow ") +
                      mask + " " + (sid != nullptr ? sid : "?"));
    LocalFree(sid);
  }
  return entries;
}

// The DACL a pipe has, read back from the pipe itself, and the one it was made with.
std::vector<std::string> PipeAccess(const char* name) {
  WaitNamedPipeA(name, 2000);  // the one instance is free again once the last client has been served
  HANDLE pipe = CreateFileA(name, READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return {"cannot open"};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::vector<std::string> entries = {"cannot read"};
  if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
    entries = Entries(descriptor);
    LocalFree(descriptor);
  }
  CloseHandle(pipe);
  return entries;
}
std::vector<std::string> Meant(const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return {"not a descriptor"};
  }
  std::vector<std::string> entries = Entries(descriptor);
  LocalFree(descriptor);
  return entries;
}

class ClockAgentService : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UnderWine()) << "never run this on Windows itself: it installs a service";
    ASSERT_NE(std::getenv("CLOCKAGENT_WINE_HARNESS"), nullptr);
    Clockagent("service remove");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
    DeleteFileA(RecordPath().c_str());
    ASSERT_TRUE(PutSettingText(kCommValue, "COM12"));  // broadcasts the current time
  }
  void TearDown() override {
    Clockagent("service remove");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
  }
  void Restart() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(WaitFor([&] {
      return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED;
    }, 10000));
    ASSERT_TRUE(StartServiceA(service, 0, nullptr));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    ASSERT_TRUE(WaitFor([] {
      std::string reply;
      return AskService(kStatePipeName, "state", &reply) == PipeAnswer::Answered;
    }, 10000));
  }
};

TEST_F(ClockAgentService, KeepsTheClockSetWithNobodyLoggedOn) {
  CommandRun status = Clockagent("service status");
  EXPECT_EQ(status.exitCode, 3);
  EXPECT_EQ(status.out, "ClockAgent service: not installed\n");

  const CommandRun install = Clockagent("service install");
  ASSERT_EQ(install.exitCode, 0) << install.out;
  EXPECT_EQ(install.out, "installed the ClockAgent service\nthe ClockAgent service runs\n");
  // Its first update begins at once, with nobody's window open.
  ASSERT_TRUE(WaitFor([] { return State().ended; }, 15000));
  ServiceState state = State();
  EXPECT_TRUE(state.started);
  EXPECT_EQ(state.outcome, UpdateOutcome::Success);
  EXPECT_EQ(state.successes, 1);
  EXPECT_EQ(state.attempts, 1);
  // ...in its record in ProgramData.
  const std::string record = FileText(RecordPath());
  EXPECT_EQ(record.rfind(kRecordHeader + std::string("\r\n"), 0), 0u) << record;
  EXPECT_NE(record.find(",COM12,Success,0x8F-AB,"), std::string::npos) << record;
  status = Clockagent("service status");
  EXPECT_EQ(status.exitCode, 0);
  EXPECT_EQ(status.out.substr(0, 75),
            "ClockAgent service: installed, running\nupdates: On\nlast update: Success at ")
      << status.out;

  // Windows Time's provider is not registered beside the service's updates.
  const CommandRun provider = Clockagent("w32time install");
  EXPECT_EQ(provider.exitCode, 1) << provider.out;

  // Refresh Time through the pipe: one more attempt, the counters of the same run.
  std::string reply;
  ASSERT_EQ(AskService(kStatePipeName, "refresh", &reply), PipeAnswer::Answered);
  EXPECT_EQ(reply, kOkReply);
  ASSERT_TRUE(WaitFor([] { return State().attempts == 2 && !State().polling; }, 5000));
  EXPECT_EQ(State().successes, 2);
  // Start and Stop are not for the state pipe.
  ASSERT_EQ(AskService(kStatePipeName, "stop", &reply), PipeAnswer::Answered);
  EXPECT_EQ(reply, "refused: only an administrator may start or stop the service's updates");

  // Stop through the control pipe, and a stopped schedule stays stopped after a restart.
  EXPECT_EQ(Clockagent("service stop").out, "stopped the updates of the ClockAgent service\n");
  EXPECT_FALSE(State().started);
  EXPECT_EQ(StoredSetting(kServiceScheduleValue), "REG_SZ:OFF");
  EXPECT_EQ(Clockagent("w32time install").exitCode, 0) << "the updates are Off";
  // ...and while it is, the service takes no Start (nor Refresh Time) from anyone.
  EXPECT_EQ(Clockagent("service start").out,
            std::string("clockagent service start: ") + kProviderRefusal + "\n");
  EXPECT_EQ(Clockagent("w32time remove").exitCode, 0);
  Restart();
  state = State();
  EXPECT_FALSE(state.started);
  EXPECT_EQ(state.attempts, 0) << "no update after the restart";
  // ...but the last one before it, from the record.
  EXPECT_TRUE(state.ended);
  EXPECT_EQ(state.outcome, UpdateOutcome::Success);
  ASSERT_EQ(AskService(kStatePipeName, "refresh", &reply), PipeAnswer::Answered);
  EXPECT_EQ(reply, "refused: the service's updates are Off; only an administrator may refresh the "
                   "time now");

  // Start with settings, through the control pipe: stored, in force, an update at once.
  CycleChoices choices;
  choices.port.number = 12;
  choices.intervalMs = 3600000;
  ASSERT_EQ(AskService(kControlPipeName, EncodeRequest(ServiceRequest::Start, choices), &reply),
            PipeAnswer::Answered);
  EXPECT_EQ(reply, kOkReply);
  EXPECT_TRUE(State().started);
  EXPECT_EQ(StoredSetting(kIntervalValue), "REG_SZ:3600");
  ASSERT_TRUE(WaitFor([] { return State().ended; }, 5000));
  EXPECT_EQ(State().outcome, UpdateOutcome::Success);
  choices.intervalMs = 0;
  ASSERT_EQ(AskService(kControlPipeName, EncodeRequest(ServiceRequest::Start, choices), &reply),
            PipeAnswer::Answered);
  EXPECT_EQ(reply, std::string(kRefusedReply) + kZeroIntervalMessage);

  // Who may talk to it: never the network; the system and administrators; interactive users the
  // state pipe only. (Wine runs everything as an administrator, so the descriptors are checked,
  // not a refusal.)
  const std::vector<std::string> stateAccess = {
      "protected", "deny 10000000 S-1-5-2", "allow 10000000 S-1-5-18",
      "allow 10000000 S-1-5-32-544", "allow 0012018b S-1-5-4"};
  EXPECT_EQ(Meant(kStatePipeSecurity), stateAccess);
  EXPECT_EQ(PipeAccess(kStatePipeName), stateAccess);
  const std::vector<std::string> controlAccess(stateAccess.begin(), stateAccess.end() - 1);
  EXPECT_EQ(Meant(kControlPipeSecurity), controlAccess);
  EXPECT_EQ(PipeAccess(kControlPipeName), controlAccess);

  // Windows Time, with stand-ins: this service for its running, a key of ours for its Type.
  const char* const parameters = "SOFTWARE\\Velmora\\ClockAgentTest\\W32Time";
  EXPECT_TRUE(WindowsTimeOverwrites(kServiceName, parameters));  // no Type: its default
  for (const auto& [type, overwrites] : std::vector<std::pair<const char*, bool>>{
           {"NTP", true}, {"NoSync", false}, {"AllSync", true}}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, parameters, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExA(key, "Type", 0, REG_SZ, reinterpret_cast<const BYTE*>(type),
                   static_cast<DWORD>(std::strlen(type) + 1));
    RegCloseKey(key);
    EXPECT_EQ(WindowsTimeOverwrites(kServiceName, parameters), overwrites) << type;
    EXPECT_FALSE(WindowsTimeOverwrites("NoSuchService", parameters)) << "not running";
  }
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmora\\ClockAgentTest");

  const CommandRun remove = Clockagent("service remove");
  EXPECT_EQ(remove.exitCode, 0);
  EXPECT_EQ(remove.out, "removed the ClockAgent service\n");
  status = Clockagent("service status");
  EXPECT_EQ(status.exitCode, 3);
  EXPECT_EQ(Clockagent("service stop").exitCode, 3);
}

}  // namespace
}  // namespace clockagent::test

namespace clockagent::test {
namespace {

// Milliseconds since `from`.
long long Since(ULONGLONG from) { return static_cast<long long>(GetTickCount64() - from); }

// Whether the service still holds the client end `pipe`: a peek fails once it has dropped it.
bool StillHeld(HANDLE pipe) { return PeekNamedPipe(pipe, nullptr, 0, nullptr, nullptr, nullptr); }

TEST_F(ClockAgentService, ASilentClientHoldsNeitherThePipesNorAnAttempt) {
  ASSERT_EQ(Clockagent("service install").exitCode, 0);
  ASSERT_TRUE(WaitFor([] { return State().ended; }, 15000));
  // A client that connects and never sends, held while Refresh Time's attempt runs.
  WaitNamedPipeA(kStatePipeName, 2000);
  HANDLE silent = CreateFileA(kStatePipeName, GENERIC_READ | FILE_WRITE_DATA, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(silent, INVALID_HANDLE_VALUE);
  State();  // answered only once the service has taken the silent client in
  const ULONGLONG asked = GetTickCount64();
  std::string reply;
  ASSERT_EQ(AskService(kControlPipeName, "refresh", &reply), PipeAnswer::Answered);
  // Waiting for the silent client, it would have answered only once it had dropped it, late.
  EXPECT_TRUE(StillHeld(silent)) << "Refresh Time waited for the silent client";
  // COM12's broadcast comes within a second, and is read as it comes.
  EXPECT_TRUE(WaitFor([] { return State().attempts == 2 && !State().polling; }, 1500));
  EXPECT_LT(Since(asked), 1500);
  EXPECT_EQ(State().outcome, UpdateOutcome::Success);
  EXPECT_TRUE(WaitFor([silent] { return !StillHeld(silent); }, 2000)) << "never dropped";
  CloseHandle(silent);
}

TEST_F(ClockAgentService, NeitherItNorItsClientsBelieveAProgramHoldingItsPipe) {
  // Another program made the state pipe first, an instance for each client here.
  HANDLE squatter[2];
  for (HANDLE& instance : squatter) {
    instance = CreateNamedPipeA(kStatePipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 2, 4096,
                                4096, 0, nullptr);
    ASSERT_NE(instance, INVALID_HANDLE_VALUE);
  }
  ASSERT_EQ(Clockagent("service install").exitCode, 0) << "the service runs all the same";
  std::string reply;
  EXPECT_EQ(AskService(kStatePipeName, "state", &reply), PipeAnswer::NotTheService);
  const CommandRun status = Clockagent("service status");
  EXPECT_NE(status.out.find("another program, not the ClockAgent service"), std::string::npos)
      << status.out;
  // Once the name is free, the service takes it within its retry.
  for (HANDLE instance : squatter) CloseHandle(instance);
  EXPECT_TRUE(WaitFor([&] {
    return AskService(kStatePipeName, "state", &reply) == PipeAnswer::Answered;
  }, 8000));
}

TEST_F(ClockAgentService, AClientFloodingItsStatePipeIsHeldToItsShare) {
  ASSERT_EQ(Clockagent("service install").exitCode, 0);
  std::string reply;
  ASSERT_TRUE(WaitFor([&] {
    return AskService(kStatePipeName, "state", &reply) == PipeAnswer::Answered;
  }, 8000));
  int requests = 0, answered = 0;
  const auto began = std::chrono::steady_clock::now();
  double seconds = 0;
  for (; seconds < 2; ++requests) {
    answered += AskService(kStatePipeName, "state", &reply) == PipeAnswer::Answered;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  }
  EXPECT_LT(answered, requests);
  EXPECT_LE(answered, kClientBurst + kClientRate * seconds + 1) << requests << " requests";
  Sleep(200);
  EXPECT_EQ(AskService(kStatePipeName, "state", &reply), PipeAnswer::Answered) << "its share back";
}

TEST_F(ClockAgentService, ItsOwnSidAloneMayKeepTheSettings) {
  std::vector<unsigned char> sid;
  ASSERT_TRUE(ServiceSidOf("TrustedInstaller", &sid));
  char* text = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidA(sid.data(), &text));
  EXPECT_STREQ(text, "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464");
  LocalFree(text);
  const auto settingsAccess = [] {
    HKEY key = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::vector<std::string> entries;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, READ_CONTROL, &key) == ERROR_SUCCESS &&
        GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
      entries = Entries(descriptor);
      LocalFree(descriptor);
    }
    if (key != nullptr) RegCloseKey(key);
    return std::string(" ") + [&] {
      std::string all;
      for (const std::string& e : entries) all += e + ";";
      return all;
    }();
  };
  ASSERT_EQ(Clockagent("service install").exitCode, 0);
  const std::string granted = "allow 00000003 " + ServiceSidText() + ";";
  EXPECT_NE(settingsAccess().find(granted), std::string::npos) << settingsAccess();
  EXPECT_EQ(settingsAccess().find("S-1-5-19"), std::string::npos) << "not LocalService as a whole";
  ASSERT_EQ(Clockagent("service remove").exitCode, 0);
  EXPECT_EQ(settingsAccess().find(ServiceSidText()), std::string::npos) << settingsAccess();
}

}  // namespace
}  // namespace clockagent::test
