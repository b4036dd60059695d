// The timers of the update cycle: ticks that arrive as events on the one thread that runs it.
#pragma once

#include <cstdint>

namespace clockagent {

// Setting the interval of an enabled timer starts its period afresh; enabling starts it from now.
class Timer {
 public:
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetInterval(std::uint32_t milliseconds) = 0;
  virtual std::uint32_t Interval() const = 0;

 protected:
  ~Timer() = default;
};

// A timer that only holds its state, for a driver that delivers the ticks itself.
class TimerState final : public Timer {
 public:
  explicit TimerState(std::uint32_t milliseconds, bool isEnabled = false)
      : interval(milliseconds), enabled(isEnabled) {}
  void SetEnabled(bool value) override { enabled = value; }
  bool Enabled() const override { return enabled; }
  void SetInterval(std::uint32_t milliseconds) override { interval = milliseconds; }
  std::uint32_t Interval() const override { return interval; }

  std::uint32_t interval;
  bool enabled;
};

}  // namespace clockagent
