// The update cycle: when attempts begin, how the receive poll drives them, and how their outcomes
// are shown and counted.
#pragma once

#include <cstdint>

#include "receiver/daro_link.h"
#include "receiver/timing_packets.h"
#include "update/clock_setting.h"
#include "update/main_view.h"

namespace clockagent {

constexpr int kPollsPerAttempt = 30;
constexpr std::uint32_t kPollIntervalMs = 200;
constexpr std::uint32_t kDefaultUpdateIntervalMs = 21600000;  // six hours
constexpr std::int32_t kMostAttemptsCounted = 9999;

constexpr char kErrorTitle[] = "Error";
constexpr char kZeroIntervalMessage[] = "Interval must be greater than zero.";
// The timer counts milliseconds in 32 bits: 49 days 17:02 is the longest whole-minute interval.
constexpr char kLongIntervalMessage[] =
    "Interval must not be longer than 49 17:02 (49 days, 17 hours and 2 minutes).";

// Writes the settings; Start calls it once the interval is known to be good.
class SettingsSaver {
 public:
  virtual void SaveSettings() = 0;

 protected:
  ~SettingsSaver() = default;
};

class UpdateCycle final : public OutcomeSink {
 public:
  UpdateCycle(ReceiverLink& link, MainView& view, Timer& timerUpdate, Timer& timerDaro,
              ClockSetter& clock);
  UpdateCycle(const UpdateCycle&) = delete;
  UpdateCycle& operator=(const UpdateCycle&) = delete;

  void SetSettingsSaver(SettingsSaver* saver) { settings_ = saver; }

  void StartUpdates();
  void StopUpdates();
  void RefreshTime();

  // Begins an attempt; while one is polling, does nothing at all.
  void Timer_UpdateTimer();
  // One receive poll of the attempt in progress.
  void Timer_DAROTimer();

  // Ends the current attempt with its outcome.
  void ReportOutcome(UpdateOutcome outcome) override;

  // Program-wide values.
  std::int32_t AttemptCount = 0;
  std::int32_t SuccessCount = 0;
  int PollCountdown = kPollsPerAttempt;
  int ActivePortNumber = 1;
  TimingContext timing;  // TimeReceived and ActiveTimeType, shared with the packet handlers

  Timer& Timer_Update;
  Timer& Timer_DARO;

 private:
  class TimePanel final : public TextTarget {
   public:
    explicit TimePanel(MainView& view) : view_(view) {}
    void SetText(const char* text) override { view_.SetCaption(Panel::Panel_Time, text); }

   private:
    MainView& view_;
  };

  SerialLineSettings SelectedLineSettings() const;
  void SetScheduleControls(bool started);

  ReceiverLink& link_;
  MainView& view_;
  TimePanel timePanel_;
  SettingsSaver* settings_ = nullptr;
};

}  // namespace clockagent
