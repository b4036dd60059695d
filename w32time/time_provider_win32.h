// Windows Time's provider of the receiver's samples: the reference clock of refclock run on a
// thread of its own, with the stored settings, its newest sample handed to Windows Time when it
// asks. Windows Time loads ClockAgentTimeProvider.dll and calls its three entry points.
#pragma once

#include <windows.h>
#include <timeprov.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "update/clock_sample.h"
#include "update/cycle_front_end.h"

namespace clockagent {

// How long Windows Time may be handed a sample: a receiver that sends every second has sent three
// more meanwhile, and one that has stopped no longer times anything.
constexpr std::int64_t kFreshSampleNs = 4 * kNsPerSecond;

// The dispersion a sample is given, in 100 ns: an edge of the pulse is stamped to tens of
// microseconds, a packet's first byte to a character time or two and the receiver's own delay.
constexpr std::uint64_t kPulseDispersion = 1000;     // 0.1 ms
constexpr std::uint64_t kPacketDispersion = 100000;  // 10 ms

class TimeProvider {
 public:
  // Starts the thread; `callbacks` are copied.
  TimeProvider(const wchar_t* name, const TimeProvSysCallbacks& callbacks);
  // Stops the thread, which closes the port.
  ~TimeProvider();
  TimeProvider(const TimeProvider&) = delete;
  TimeProvider& operator=(const TimeProvider&) = delete;

  // Never waits on the port or the thread: it reads or clears the held sample under a short lock,
  // or raises a flag the thread looks at.
  HRESULT Command(TimeProvCmd command, TimeProvArgs args);

  // On the thread: a sample of the reference clock. False when it is not offered: not timed by
  // the pulse chosen, over the stored limit, a large correction that no earlier sample confirms,
  // or Windows Time's clock not read.
  bool Offer(const ClockSample& sample);
  // The held sample dropped: the receiver's time is refused, or the clock has jumped.
  void Discard();

 private:
  void Run();
  void RunOnce();
  HRESULT GetSamples(TpcGetSamplesArgs* args);
  void Log(WORD type, const std::string& text);

  const std::wstring name_;
  GetTimeSysInfoFunc* const getInfo_;
  LogTimeProvEventFunc* const logEvent_;
  AlertSamplesAvailFunc* const alert_;

  std::mutex mutex_;  // guards the held sample
  bool held_ = false;
  std::int64_t heldMonotonicNs_ = 0;
  TimeSample sample_{};

  // The thread's own.
  CycleChoices choices_;
  bool previous_ = false;  // the last sample, for confirming a large correction
  ClockSample previousSample_;
  bool portTold_ = false;
  int unpulsed_ = 0;  // packets in a row that the chosen pulse did not time

  std::atomic<bool> stop_{false};
  std::atomic<bool> reread_{false};
  std::thread thread_;
};

}  // namespace clockagent
