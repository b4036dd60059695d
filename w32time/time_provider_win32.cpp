// Windows Time's provider of the receiver's samples, and the entry points Windows Time calls.
#include "w32time/time_provider_win32.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "receiver/pulse_edges.h"
#include "receiver/serial_link.h"
#include "receiver/system_serial_port.h"
#include "refclock/reference_clock.h"
#include "settings/registry_store.h"
#include "settings/stored_choices.h"
#include "update/timer_loop.h"

namespace clockagent {
namespace {

constexpr std::uint32_t kTickMs = 1000;  // a request, and the port tried again
// 100 ns intervals from 1601-01-01, Windows' epoch, to 1970-01-01.
constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000LL;

std::wstring Widened(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Hands each sample of the reference clock to the provider.
class ProviderOutput final : public SampleOutput {
 public:
  explicit ProviderOutput(TimeProvider& provider) : provider_(provider) {}
  bool Send(const ClockSample& sample, std::int64_t) override { return provider_.Offer(sample); }
  void Refused() override { provider_.Discard(); }

 private:
  TimeProvider& provider_;
};

}  // namespace

TimeProvider::TimeProvider(const wchar_t* name, const TimeProvSysCallbacks& callbacks)
    : name_(name),
      getInfo_(callbacks.pfnGetTimeSysInfo),
      logEvent_(callbacks.pfnLogTimeProvEvent),
      alert_(callbacks.pfnAlertSamplesAvail) {
  thread_ = std::thread([this] { Run(); });
}

TimeProvider::~TimeProvider() {
  stop_ = true;
  thread_.join();
}

void TimeProvider::Run() {
  while (!stop_) {
    try {
      RunOnce();
    } catch (const std::exception& e) {
      // Nothing may end Windows Time's process: said, and tried again after a pause.
      Log(EVENTLOG_ERROR_TYPE, std::string("stopped by an error: ") + e.what() +
                                   "; starting again in a second");
      for (int waited = 0; waited < 1000 && !stop_; waited += 50) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  }
}

// One run of the reference clock with the settings as they are stored now, until Windows Time
// closes the provider or asks it to read them again.
void TimeProvider::RunOnce() {
  reread_ = false;
  const std::unique_ptr<SettingsStore> store = NewRegistryReader();
  choices_ = CycleChoices{};
  ApplyStoredChoices(*store, &choices_);
  choices_.latencyMs = LoadLatency(*store);
  choices_.maxCorrectionSeconds = LoadMaxCorrection(*store);
  previous_ = false;
  unpulsed_ = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;  // a sample of other settings
    const std::wstring unique =
        L"ClockAgent GPS receiver on " + Widened(PortDisplayName(choices_.port));
    std::memset(sample_.wszUniqueName, 0, sizeof sample_.wszUniqueName);
    unique.copy(sample_.wszUniqueName, std::size(sample_.wszUniqueName) - 1);
  }

  const std::unique_ptr<SerialPort> port = NewSystemSerialPort();
  std::vector<std::unique_ptr<SampleOutput>> outputs;
  outputs.push_back(std::make_unique<ProviderOutput>(*this));
  ReferenceClock refclock(choices_, *port, SystemLinkClock(), std::move(outputs));
  const auto tick = [this, &refclock] {
    refclock.Tick();
    // Said once each time the port is lost, not every second it is tried again.
    if (refclock.PortAway() && !portTold_) {
      portTold_ = true;
      const std::string& words = refclock.PortWords();
      Log(EVENTLOG_WARNING_TYPE, "cannot open " + PortDisplayName(choices_.port) +
                                     (words.empty() ? "" : " (" + words + ")") +
                                     ", trying again each second");
    } else if (!refclock.PortAway()) {
      portTold_ = false;
    }
  };
  LoopTimer ticks{kTickMs, true};
  tick();
  const ArrivalHandler arrival = refclock.Arrival();
  // The loop looks at `done` at least every 50 ms.
  RunTimers({{&ticks, tick}}, [this] { return stop_ || reread_; }, &arrival);
}

void TimeProvider::Discard() {
  const std::lock_guard<std::mutex> lock(mutex_);
  held_ = false;
}

bool TimeProvider::Offer(const ClockSample& sample) {
  // With a pulse chosen, a packet it does not time (the first after the port opens, or one whose
  // edge was missed) is off by the receiver's delay in sending it, tens of milliseconds that no
  // one has told the latency of: Windows Time, which does not weed out such a sample, gets none.
  if (choices_.pulse != PulseLine::None && !sample.atPulse) {
    // The first after an open is one; a third in a row is a pulse gone: said once.
    if (++unpulsed_ == 3) {
      Log(EVENTLOG_WARNING_TYPE, "timing packets come with no pulse on " +
                                     std::string(PulseLineName(choices_.pulse)) +
                                     " within a second before them: no sample is given until the "
                                     "pulse times them again");
    }
    return false;
  }
  unpulsed_ = 0;
  // As the update cycle does: a correction this large, which a garbled packet gives, is offered
  // only when the sample before agrees with it.
  const bool confirmed =
      !NeedsConfirming(sample) || (previous_ && Confirms(previousSample_, sample));
  previous_ = true;
  previousSample_ = sample;
  // What the receiver now says is not taken: neither is what it said before.
  if (!confirmed || ExceedsLimit(sample, choices_.maxCorrectionSeconds)) {
    Discard();
    return false;
  }

  // The receiver's time set against Windows Time's own clock and tick count, read together now,
  // a moment after the sample's.
  unsigned __int64 now100ns = 0;
  unsigned __int64 tickCount = 0;
  signed __int64 phaseOffset = 0;
  if (FAILED(getInfo_(TSI_CurrentTime, &now100ns))) return false;
  const std::int64_t monotonicNs = SystemLinkClock().Now().monotonicNs;
  if (FAILED(getInfo_(TSI_TickCount, &tickCount)) ||
      FAILED(getInfo_(TSI_PhaseOffset, &phaseOffset))) {
    return false;
  }
  const std::int64_t clockNs = (static_cast<std::int64_t>(now100ns) - kUnixEpochIn100ns) * 100;
  const std::int64_t offsetNs = ReceiverNsAt(sample, monotonicNs) - clockNs;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    sample_.dwSize = sizeof(TimeSample);
    std::memcpy(&sample_.dwRefid, "GPS", 4);  // NTP's reference identifier: four ASCII bytes
    sample_.toOffset = (offsetNs + (offsetNs < 0 ? -50 : 50)) / 100;
    sample_.toDelay = 0;
    sample_.tpDispersion = sample.atPulse ? kPulseDispersion : kPacketDispersion;
    sample_.nSysTickCount = tickCount;
    sample_.nSysPhaseOffset = phaseOffset;
    sample_.nLeapFlags = 0;
    sample_.nStratum = 0;
    sample_.dwTSFlags = TSF_Hardware;
    held_ = true;
    heldMonotonicNs_ = monotonicNs;
  }
  alert_();
  return true;
}

HRESULT TimeProvider::Command(TimeProvCmd command, TimeProvArgs args) {
  switch (command) {
    case TPC_GetSamples:
      return args == nullptr ? E_INVALIDARG : GetSamples(static_cast<TpcGetSamplesArgs*>(args));
    case TPC_TimeJumped:
      Discard();  // taken against the clock before the jump: no longer true of it
      return S_OK;
    case TPC_UpdateConfig:
      reread_ = true;
      return S_OK;
    case TPC_Shutdown:
      stop_ = true;
      return S_OK;
    case TPC_PollIntervalChanged:
    case TPC_NetTopoChange:
      return S_OK;  // a receiver is read every second whatever Windows Time's poll is
    case TPC_Query:
      break;
  }
  return E_NOTIMPL;
}

HRESULT TimeProvider::GetSamples(TpcGetSamplesArgs* args) {
  args->dwSamplesReturned = 0;
  const std::int64_t now = SystemLinkClock().Now().monotonicNs;
  const std::lock_guard<std::mutex> lock(mutex_);
  const bool fresh = held_ && now - heldMonotonicNs_ <= kFreshSampleNs;
  args->dwSamplesAvailable = fresh ? 1 : 0;
  if (!fresh) return S_OK;
  if (args->pbSampleBuf == nullptr || args->cbSampleBuf < sizeof(TimeSample)) {
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(args->pbSampleBuf, &sample_, sizeof(TimeSample));
  args->dwSamplesReturned = 1;
  return S_OK;
}

void TimeProvider::Log(WORD type, const std::string& text) {
  std::wstring message = Widened(text);
  std::wstring provider = name_;
  logEvent_(type, &provider[0], &message[0]);
}

}  // namespace clockagent

// The entry points. No exception crosses them: Windows Time is C.
extern "C" {

HRESULT WINAPI TimeProvOpen(WCHAR* name, TimeProvSysCallbacks* callbacks, TimeProvHandle* handle) {
  if (name == nullptr || callbacks == nullptr || handle == nullptr ||
      callbacks->pfnGetTimeSysInfo == nullptr || callbacks->pfnLogTimeProvEvent == nullptr ||
      callbacks->pfnAlertSamplesAvail == nullptr) {
    return E_INVALIDARG;
  }
  // Kept loaded until Windows Time's process ends: its runtime (the threads' library, linked in
  // statically) does not survive being unloaded and loaded again in one process, which Windows
  // Time does when its configuration changes.
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&TimeProvOpen), &self);
  try {
    *handle = new clockagent::TimeProvider(name, *callbacks);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT WINAPI TimeProvCommand(TimeProvHandle handle, TimeProvCmd command, TimeProvArgs args) {
  if (handle == nullptr) return E_INVALIDARG;
  try {
    return static_cast<clockagent::TimeProvider*>(handle)->Command(command, args);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT WINAPI TimeProvClose(TimeProvHandle handle) {
  if (handle == nullptr) return E_INVALIDARG;
  try {
    delete static_cast<clockagent::TimeProvider*>(handle);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

}  // extern "C"
