// The update cycle.
#include "update/update_cycle.h"

#include <cstdio>
#include <limits>
#include <string>

#include "receiver/serial_link.h"
#include "update/interval_text.h"

namespace clockagent {

UpdateCycle::UpdateCycle(ReceiverLink& link, MainView& view, Timer& timerUpdate, Timer& timerDaro,
                         ClockSetter& clock)
    : Timer_Update(timerUpdate), Timer_DARO(timerDaro), link_(link), view_(view),
      timePanel_(view) {
  timing.TimeReceived = 1;
  timing.ActiveTimeType = TimeType::Utc;
  timing.Panel_Time = &timePanel_;
  timing.clock = &clock;
  timing.cycle = this;
  timing.earliestTime = kReleaseReceiverTime;
}

SerialLineSettings UpdateCycle::SelectedLineSettings() const {
  SerialLineSettings s;
  s.portIndex = view_.ItemIndex(Control::ComboBox_COM);
  s.baudRateIndex = view_.ItemIndex(Control::ComboBox_BaudRate);
  s.dataBitsIndex = view_.ItemIndex(Control::ComboBox_DataBits);
  s.parityIndex = view_.ItemIndex(Control::ComboBox_Parity);
  s.stopBitsIndex = view_.ItemIndex(Control::ComboBox_StopBits);
  return s;
}

void UpdateCycle::Timer_UpdateTimer() {
  // An attempt is polling: it goes on untouched, and this one is not begun.
  if (link_.isOpen) return;

  view_.RemoveTrayIcons();
  view_.AddTrayIcon(TrayIconState::InProgress);
  char name[kPortNameSize];
  view_.PortName(ActivePortNumber, name);
  const int opened = OpenLink(link_, name);
  ++AttemptCount;
  if (opened != 0) {
    ReportOutcome(UpdateOutcome::ComFailure);
    return;
  }
  PrepareLink(link_, SelectedLineSettings());
  timing.TimeReceived = 0;
  timing.rolloverWeeks = 0;
  PollCountdown = kPollsPerAttempt;
  Timer_DARO.SetEnabled(true);
}

void UpdateCycle::Timer_DAROTimer() {
  if (!link_.isOpen || timing.TimeReceived) return;
  RequestTime(link_);
  ReadLink(link_, [this](ReceiverLink& completed) { DispatchPacket(completed, timing); });
  if (timing.TimeReceived) return;  // the attempt has reported its outcome
  if (--PollCountdown <= 0) {
    PollCountdown = kPollsPerAttempt;
    ReportOutcome(UpdateOutcome::DaroFailure);
  }
}

void UpdateCycle::ReportOutcome(UpdateOutcome outcome) {
  Timer_DARO.SetEnabled(false);
  CloseLink(link_);
  if (AttemptCount > kMostAttemptsCounted) {
    AttemptCount = 1;
    SuccessCount = 0;
  }
  if (outcome == UpdateOutcome::Success) ++SuccessCount;
  view_.SetCaption(Panel::Panel_Status, StatusText(outcome));
  char counts[32];
  std::snprintf(counts, sizeof counts, "%d/%d", static_cast<int>(SuccessCount),
                static_cast<int>(AttemptCount));
  view_.SetCaption(Panel::Panel_TotalUpdates, counts);
  view_.RemoveTrayIcons();
  view_.AddTrayIcon(IconStateAfter(outcome));
}

void UpdateCycle::SetScheduleControls(bool started) {
  view_.SetEnabled(Control::SpeedButton_Stop, started);
  view_.SetEnabled(Control::Control_Stop, started);
  view_.SetEnabled(Control::SpeedButton_Start, !started);
  view_.SetEnabled(Control::Control_Start, !started);
  for (Control setup : {Control::Panel_Setup, Control::ComboBox_COM, Control::ComboBox_BaudRate,
                        Control::ComboBox_DataBits, Control::ComboBox_Parity,
                        Control::ComboBox_StopBits, Control::MaskEdit_Interval,
                        Control::RadioGroup_TimeType, Control::RadioGroup_AutoStart}) {
    view_.SetEnabled(setup, !started);
  }
  view_.SetCaption(Panel::Panel_OnOff, started ? "On" : "Off");
}

void UpdateCycle::StartUpdates() {
  ActivePortNumber = view_.ItemIndex(Control::ComboBox_COM) + 1;
  // A text that is not "dd hh:mm" (-1) gives no period either; the front ends check their own.
  const std::int64_t period = IntervalMilliseconds(view_.IntervalText().c_str());
  if (period <= 0) {
    view_.ShowMessage(kZeroIntervalMessage, kErrorTitle, kMessageOkExclamation);
    return;
  }
  if (period > std::numeric_limits<std::uint32_t>::max()) {
    view_.ShowMessage(kLongIntervalMessage, kErrorTitle, kMessageOkExclamation);
    return;
  }
  Timer_Update.SetInterval(static_cast<std::uint32_t>(period));
  timing.ActiveTimeType = static_cast<TimeType>(view_.ItemIndex(Control::RadioGroup_TimeType));
  if (settings_ != nullptr) settings_->SaveSettings();
  Timer_Update.SetEnabled(true);
  // An attempt still polling (begun before a Stop) counts as the first of this run, so that its
  // outcome shows 1/1 or 0/1 and successes never exceed attempts.
  AttemptCount = link_.isOpen ? 1 : 0;
  SuccessCount = 0;
  SetScheduleControls(true);
  Timer_UpdateTimer();
}

void UpdateCycle::StopUpdates() {
  SetScheduleControls(false);
  Timer_Update.SetEnabled(false);
}

void UpdateCycle::RefreshTime() {
  ActivePortNumber = view_.ItemIndex(Control::ComboBox_COM) + 1;
  timing.ActiveTimeType = static_cast<TimeType>(view_.ItemIndex(Control::RadioGroup_TimeType));
  Timer_UpdateTimer();
}

}  // namespace clockagent
