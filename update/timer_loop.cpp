// Timers, and the rule of how a loop waits on a receiver's port between them.
#include "update/timer_loop.h"

#include <algorithm>
#include <thread>

namespace clockagent {

volatile std::sig_atomic_t g_stopRequested = 0;

namespace {
void OnStopSignal(int) { g_stopRequested = 1; }
}  // namespace

void InstallStopSignals() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
}

PortWait PortWaitFor(bool waitsForPacketStart, bool reading) {
  if (waitsForPacketStart) return PortWait::Arrival;
  return reading ? PortWait::ReadEvery : PortWait::TimersOnly;
}

PortWait PortWaitFor(const UpdateCycle& cycle) {
  return PortWaitFor(cycle.WaitsForPacketStart(), cycle.Polling());
}

PortWait PortWaitFor(const UpdateCycle& cycle, SerialPort& port, std::intptr_t* handle) {
  *handle = -1;
  const PortWait wait = PortWaitFor(cycle);
  if (wait != PortWait::Arrival) return wait;
  *handle = port.ArrivalHandle();
  return *handle != -1 ? PortWait::Arrival : PortWait::ReadEvery;
}

ArrivalHandler LinkArrival(SerialPort& port, std::function<bool()> waitsForPacketStart,
                           std::function<bool()> reading, std::function<void()> onArrival) {
  return ArrivalHandler{
      [&port, waitsForPacketStart = std::move(waitsForPacketStart),
       reading = std::move(reading)](std::chrono::milliseconds timeout) {
        switch (PortWaitFor(waitsForPacketStart(), reading())) {
          case PortWait::Arrival:
            port.WaitForBytes(std::min(timeout, kLookInterval));
            return true;  // read whether bytes came or not: a look
          case PortWait::ReadEvery:
            std::this_thread::sleep_for(std::min(timeout, kLookInterval));
            return true;
          case PortWait::TimersOnly:
            break;
        }
        std::this_thread::sleep_for(timeout);
        return false;
      },
      std::move(onArrival)};
}

ArrivalHandler CycleArrival(SerialPort& port, UpdateCycle& cycle) {
  return LinkArrival(
      port, [&cycle] { return cycle.WaitsForPacketStart(); }, [&cycle] { return cycle.Polling(); },
      [&cycle] { cycle.BytesArrived(); });
}

bool RunTimers(const std::vector<TimerHandler>& timers, const std::function<bool()>& done,
               const ArrivalHandler* arrival) {
  constexpr auto kLongestSleep = std::chrono::milliseconds(50);  // how soon a signal is noticed
  while (!done()) {
    if (g_stopRequested) return false;
    const auto now = LoopTimer::Clock::now();
    auto next = now + kLongestSleep;
    for (const TimerHandler& t : timers) {
      if (!t.timer->Enabled()) continue;
      if (t.timer->Due() <= now) {
        t.timer->Ticked();
        t.onTick();
        next = now;  // a handler may have changed any timer: look again at once
        break;
      }
      next = std::min(next, t.timer->Due());
    }
    if (next <= now) continue;
    if (arrival == nullptr) {
      std::this_thread::sleep_for(next - now);
    } else if (arrival->wait(std::chrono::ceil<std::chrono::milliseconds>(next - now))) {
      arrival->onArrival();
    }
  }
  return true;
}

}  // namespace clockagent
