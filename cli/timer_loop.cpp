// Timers for the command-line tool.
#include "cli/timer_loop.h"

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

bool RunTimers(const std::vector<TimerHandler>& timers, const std::function<bool()>& done) {
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
    if (next > now) std::this_thread::sleep_for(next - now);
  }
  return true;
}

}  // namespace clockagent
