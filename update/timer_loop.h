// Timers and the wait on a receiver's port, for programs that run their own loop: the console
// tool, the service, refclock and the benchmarks.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <vector>

#include "receiver/serial_port.h"
#include "update/timer.h"
#include "update/update_cycle.h"

namespace clockagent {

class LoopTimer final : public Timer {
 public:
  using Clock = std::chrono::steady_clock;

  LoopTimer(std::uint32_t milliseconds, bool enabled) : interval_(milliseconds) {
    SetEnabled(enabled);
  }
  void SetEnabled(bool enabled) override {
    if (enabled && !enabled_) due_ = Clock::now() + std::chrono::milliseconds(interval_);
    enabled_ = enabled;
  }
  bool Enabled() const override { return enabled_; }
  void SetInterval(std::uint32_t milliseconds) override {
    interval_ = milliseconds;
    due_ = Clock::now() + std::chrono::milliseconds(interval_);
  }
  std::uint32_t Interval() const override { return interval_; }

  Clock::time_point Due() const { return due_; }
  void Ticked() { due_ = Clock::now() + std::chrono::milliseconds(interval_); }

 private:
  std::uint32_t interval_;
  bool enabled_ = false;
  Clock::time_point due_{};
};

struct TimerHandler {
  LoopTimer* timer;
  std::function<void()> onTick;
};

// Set by SIGINT and SIGTERM once InstallStopSignals has run.
extern volatile std::sig_atomic_t g_stopRequested;
void InstallStopSignals();

// What the loop waits on between ticks besides time: `wait` waits at most the given time for
// something to arrive (bytes at a port) and says whether it did; `onArrival` handles it.
struct ArrivalHandler {
  std::function<bool(std::chrono::milliseconds)> wait;
  std::function<void()> onArrival;
};

// How a loop waits on a receiver's port between its timers. The rule lives here, and every loop
// obeys it: the console tool's and refclock's (LinkArrival), the service's beside its pipes, and
// the window's message loop beside its messages.
enum class PortWait {
  // At once for a byte that may begin a packet: the moment that byte began to arrive is what the
  // packet is stamped with. The port is also read every kLookInterval when nothing came, since a
  // packet is placed only against a recent look that found the port empty (IsPlaced).
  Arrival,
  // Inside a packet, or on a port that cannot be waited on: what has come is read every
  // kLookInterval, by the clock.
  ReadEvery,
  // Nothing is being read: only the timers.
  TimersOnly,
};

// While `waitsForPacketStart`, Arrival; while only `reading`, ReadEvery; otherwise TimersOnly.
PortWait PortWaitFor(bool waitsForPacketStart, bool reading);
PortWait PortWaitFor(const UpdateCycle& cycle);

// The same for a loop that waits on the port beside other things: for Arrival, `*handle` is the
// port's ArrivalHandle to wait on; a port that has none is read every kLookInterval.
PortWait PortWaitFor(const UpdateCycle& cycle, SerialPort& port, std::intptr_t* handle);

// A receiver's port, waited on by the rule of PortWaitFor. `onArrival` reads what came.
ArrivalHandler LinkArrival(SerialPort& port, std::function<bool()> waitsForPacketStart,
                           std::function<bool()> reading, std::function<void()> onArrival);

// The port of an update cycle, waited on as an attempt needs it (see
// UpdateCycle::WaitsForPacketStart).
ArrivalHandler CycleArrival(SerialPort& port, UpdateCycle& cycle);

// Runs the handlers of enabled timers as their ticks come due, and `arrival`'s handler as soon as
// what it waits for arrives, until `done` returns true or a stop signal arrives. Returns false
// when stopped by a signal.
bool RunTimers(const std::vector<TimerHandler>& timers, const std::function<bool()>& done,
               const ArrivalHandler* arrival = nullptr);

}  // namespace clockagent
