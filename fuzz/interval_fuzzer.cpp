// Fuzzes the reading of the interval text at Start, and Start itself with that text.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "tests/support/test_support.h"
#include "update/interval_text.h"
#include "update/update_cycle.h"


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace clockagent;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::int64_t ms = IntervalMilliseconds(text.c_str());

  // A front end that only holds the interval and notes a refusal.
  struct Front final : CycleFrontEnd {
    CycleChoices Choices() override { return choices; }
    void AttemptBegan() override {}
    void TimeOfWeekReceived(const TimingFields&, TimeType) override {}
    void AttemptEnded(const AttemptResult&) override {}
    void ScheduleChanged(bool) override {}
    void Refused(const char*) override { refused = true; }
    CycleChoices choices;
    bool refused = false;
  } front;
  front.choices.intervalMs = ms;
  clockagent::test::NullPort port;  // an attempt fails at once
  TimerState timerUpdate{kDefaultUpdateIntervalMs};
  TimerState timerPoll{kPollIntervalMs, true};
  DryRunClockSetter clock;
  UpdateEngine engine(port, timerUpdate, timerPoll, clock, front);
  engine.cycle.StartUpdates();
  // Started exactly when the interval is one the timer can hold, with that very period.
  const bool fits = ms > 0 && ms <= std::numeric_limits<std::uint32_t>::max();
  if (timerUpdate.enabled != fits) __builtin_trap();
  if (fits && timerUpdate.interval != static_cast<std::uint32_t>(ms)) __builtin_trap();
  if (fits == front.refused) __builtin_trap();
  return 0;
}
