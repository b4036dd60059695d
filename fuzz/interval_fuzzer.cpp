// Fuzzes the reading of the interval text at Start, and Start itself with that text.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "update/interval_text.h"
#include "update/update_cycle.h"
#include "update/view_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace clockagent;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::int64_t ms = IntervalMilliseconds(text.c_str());

  auto link = std::make_unique<ReceiverLink>();  // no port: an attempt fails at once
  ViewState view;
  view.interval = text;
  TimerState timerUpdate{kDefaultUpdateIntervalMs};
  TimerState timerDaro{kPollIntervalMs, true};
  DryRunClockSetter clock;
  UpdateCycle cycle{*link, view, timerUpdate, timerDaro, clock};
  cycle.StartUpdates();
  // Started exactly when the interval is one the timer can hold, with that very period.
  const bool fits = ms > 0 && ms <= std::numeric_limits<std::uint32_t>::max();
  if (timerUpdate.enabled != fits) __builtin_trap();
  if (fits && timerUpdate.interval != static_cast<std::uint32_t>(ms)) __builtin_trap();
  if (!fits && view.message.empty()) __builtin_trap();
  return 0;
}
