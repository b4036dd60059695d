// ClockAgentTimeProvider.dll driven as Windows Time drives it, with callbacks of this program's
// own, against the simulated receivers of scripts/wine-test.sh (COM20's pulse on DCD through the
// tests' fake modem lines), and its registration by clockagent.com. Prints the samples' offsets
// and the commands' times for BENCHMARKS.md.
#include <windows.h>
#include <timeprov.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/wine.h"
#include "w32time/provider_registration_win32.h"

namespace clockagent::test {
namespace {

std::atomic<int> g_alerts{0};
std::atomic<int> g_logs{0};
std::map<std::string, std::vector<double>> g_callMs;  // by entry point or command

// Windows Time's clock is this machine's: the offsets are against it.
HRESULT WINAPI GetInfo(TimeSysInfo info, void* out) {
  FILETIME now;
  switch (info) {
    case TSI_CurrentTime:
      GetSystemTimePreciseAsFileTime(&now);
      *static_cast<unsigned __int64*>(out) =
          (static_cast<unsigned __int64>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
      return S_OK;
    case TSI_TickCount:
      *static_cast<unsigned __int64*>(out) = GetTickCount64();
      return S_OK;
    case TSI_PhaseOffset:
      *static_cast<signed __int64*>(out) = 0;
      return S_OK;
    default:
      return E_NOTIMPL;
  }
}
HRESULT WINAPI LogEvent(WORD, WCHAR*, WCHAR*) { return ++g_logs, S_OK; }
HRESULT WINAPI Alert() { return ++g_alerts, S_OK; }

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// This process's threads.
int ThreadCount() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

// An entry point; through void (*)(), which any function pointer may be cast to and from.
template <class Function>
Function Entry(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The DLL opened as Windows Time opens it, with the stored settings given.
class Provider {
 public:
  explicit Provider(std::vector<std::pair<const char*, const char*>> settings) {
    for (const auto& [name, text] : settings) EXPECT_TRUE(PutSettingText(name, text));
    g_alerts = 0;
    g_logs = 0;
    threads_ = ThreadCount();
    module_ = LoadLibraryA(BuildFile(kProviderDllName).c_str());
    EXPECT_NE(module_, nullptr);
    open_ = Entry<decltype(&TimeProvOpen)>(module_, "TimeProvOpen");
    command_ = Entry<decltype(&TimeProvCommand)>(module_, "TimeProvCommand");
    close_ = Entry<decltype(&TimeProvClose)>(module_, "TimeProvClose");
    TimeProvSysCallbacks callbacks{sizeof callbacks, GetInfo, LogEvent, Alert, nullptr};
    wchar_t name[] = L"ClockAgent";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(open_(name, &callbacks, &handle_), S_OK);
    g_callMs["TimeProvOpen"].push_back(MsSince(start));
  }
  ~Provider() {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(close_(handle_), S_OK);
    g_callMs["TimeProvClose"].push_back(MsSince(start));
    EXPECT_LT(g_callMs["TimeProvClose"].back(), 5000);
    // Wine's own helper thread for a port's pending wait ends a moment after the port closes.
    EXPECT_TRUE(WaitFor([this] { return ThreadCount() <= threads_; }, 3000))
        << "a thread left running: " << ThreadCount() << " against " << threads_;
    FreeLibrary(module_);
  }
  // Every command returns within half a second.
  HRESULT Command(TimeProvCmd command, void* args) {
    const auto start = std::chrono::steady_clock::now();
    const HRESULT result = command_(handle_, command, args);
    const char* const kNames[] = {"TPC_TimeJumped", "TPC_UpdateConfig", "", "TPC_GetSamples"};
    std::vector<double>& took = g_callMs[kNames[command]];
    took.push_back(MsSince(start));
    EXPECT_LT(took.back(), 500) << kNames[command];
    return result;
  }
  TpcGetSamplesArgs Samples(TimeSample* into, DWORD size = sizeof(TimeSample),
                            HRESULT expected = S_OK) {
    TpcGetSamplesArgs args{reinterpret_cast<BYTE*>(into), size, 99, 99};
    EXPECT_EQ(Command(TPC_GetSamples, &args), expected);
    return args;
  }

 private:
  HMODULE module_;
  decltype(&TimeProvOpen) open_;
  decltype(&TimeProvCommand) command_;
  decltype(&TimeProvClose) close_;
  TimeProvHandle handle_ = nullptr;
  int threads_ = 0;
};

TEST(TimeProvider, OffersTheReceiversSamplesTimedByThePulse) {
  ASSERT_NE(std::getenv("CLOCKAGENT_WINE_HARNESS"), nullptr);
  Provider provider({{"Comm", "COM20"}, {"Pulse", "DCD"}, {"Protocol", "DARO"}});
  std::vector<double> offsetsMs;
  TimeSample sample{};
  for (int seen = 0; offsetsMs.size() < 20 && WaitFor([&] { return g_alerts > seen; }, 3000);) {
    seen = g_alerts;
    ASSERT_EQ(provider.Samples(&sample).dwSamplesReturned, 1u);
    EXPECT_LT(GetTickCount64() - sample.nSysTickCount, 1500u);
    // Timed by the pulse, each of them: the first packet, which comes with no edge before it, is
    // 20-80 ms late and is not offered.
    EXPECT_EQ(sample.tpDispersion, 1000u);
    offsetsMs.push_back(static_cast<double>(sample.toOffset) / 1e4);
    EXPECT_LT(std::abs(offsetsMs.back()), 15) << "a sample the pulse does not give";
  }
  ASSERT_EQ(offsetsMs.size(), 20u);
  EXPECT_EQ(sample.dwSize, sizeof(TimeSample));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&sample.dwRefid), 4), std::string("GPS", 4));
  EXPECT_EQ(sample.nStratum, 0);
  EXPECT_EQ(sample.nLeapFlags, 0);
  EXPECT_EQ(sample.dwTSFlags, static_cast<DWORD>(TSF_Hardware));
  EXPECT_EQ(std::wstring(sample.wszUniqueName), L"ClockAgent GPS receiver on COM20");
  std::sort(offsetsMs.begin(), offsetsMs.end());
  std::printf("provider's offsets under wine, %zu samples of COM20 with the pulse on DCD: "
              "median %+.3f ms, lowest %+.3f ms, highest %+.3f ms\n",
              offsetsMs.size(), offsetsMs[offsetsMs.size() / 2], offsetsMs.front(), offsetsMs.back());

  // A buffer too small is told how many there are; a jump of the clock discards them.
  const TpcGetSamplesArgs small = provider.Samples(&sample, sizeof(TimeSample) - 1,
                                                   HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(small.dwSamplesAvailable, 1u);
  EXPECT_EQ(small.dwSamplesReturned, 0u);
  TpcTimeJumpedArgs jumped{TJF_Default};
  EXPECT_EQ(provider.Command(TPC_TimeJumped, &jumped), S_OK);
  EXPECT_EQ(provider.Samples(&sample).dwSamplesAvailable, 0u);
}

// Receivers that give no sample: silent, refusing its time (a time of week that is no number),
// a port that is not there (said once, however often it is tried again).
TEST(TimeProvider, GivesNoSampleWithoutAUsableTime) {
  const struct {
    const char* port;
    int logs;
  } kCases[] = {{"COM11", 0}, {"COM13", 0}, {"COM19", 1}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.port);
    Provider provider({{"Comm", c.port}, {"Pulse", "NONE"}, {"Protocol", "DARO"}});
    Sleep(4000);
    TimeSample sample{};
    const TpcGetSamplesArgs args = provider.Samples(&sample);
    EXPECT_EQ(args.dwSamplesAvailable, 0u);
    EXPECT_EQ(args.dwSamplesReturned, 0u);
    EXPECT_EQ(g_alerts, 0);
    EXPECT_EQ(g_logs, c.logs);
  }
}

TEST(TimeProvider, RereadsTheSettingsWhenAsked) {
  Provider provider({{"Comm", "COM11"}, {"Pulse", "NONE"}, {"Protocol", "DARO"}});
  ASSERT_TRUE(PutSettingText("Comm", "COM12"));
  EXPECT_EQ(provider.Command(TPC_UpdateConfig, nullptr), S_OK);
  ASSERT_TRUE(WaitFor([] { return g_alerts > 0; }, 5000));
  TimeSample sample{};
  EXPECT_EQ(provider.Samples(&sample).dwSamplesReturned, 1u);
  EXPECT_EQ(std::wstring(sample.wszUniqueName), L"ClockAgent GPS receiver on COM12");
}

// The key value's data as text ("REG_DWORD:1", "REG_SZ:..."), or "missing".
std::string ProviderValue(const char* name) {
  char data[MAX_PATH] = {};
  DWORD size = sizeof data - 1;
  DWORD type = 0;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, kProviderKey, name, RRF_RT_ANY, &type, data, &size) !=
      ERROR_SUCCESS) {
    return "missing";
  }
  if (type == REG_DWORD) return "REG_DWORD:" + std::to_string(*reinterpret_cast<DWORD*>(data));
  return std::string("REG_SZ:") + data;
}

TEST(TimeProvider, IsRegisteredAndRemovedByTheConsoleTool) {
  ASSERT_EQ(RunConsoleTool("w32time install"), 0);
  EXPECT_EQ(ProviderValue("DllName"), "REG_SZ:" + BuildFile(kProviderDllName));
  EXPECT_EQ(ProviderValue("Enabled"), "REG_DWORD:1");
  EXPECT_EQ(ProviderValue("InputProvider"), "REG_DWORD:1");
  EXPECT_EQ(RunConsoleTool("w32time status"), 0);
  EXPECT_EQ(RunConsoleTool("w32time remove"), 0);
  EXPECT_EQ(ProviderValue("Enabled"), "missing");
  EXPECT_EQ(RunConsoleTool("w32time status"), 3);
  EXPECT_EQ(RunConsoleTool("w32time remove"), 3);
}

class CommandTimes : public ::testing::Environment {
  void TearDown() override {
    for (auto& [name, ms] : g_callMs) {
      std::sort(ms.begin(), ms.end());
      std::printf("%s under wine, %zu calls: median %.3f ms, longest %.3f ms\n", name.c_str(),
                  ms.size(), ms[ms.size() / 2], ms.back());
    }
  }
};
const auto* const kCommandTimes = ::testing::AddGlobalTestEnvironment(new CommandTimes);

}  // namespace
}  // namespace clockagent::test
