// The update cycle.
#include "update/update_cycle.h"

#include <limits>

#include "receiver/serial_link.h"

namespace clockagent {

UpdateCycle::UpdateCycle(ReceiverLink& link, Timer& timerUpdate, Timer& timerPoll,
                         ClockSetter& clock, CycleFrontEnd& front)
    : link_(link), timerUpdate_(timerUpdate), timerPoll_(timerPoll), clock_(clock), front_(front) {
  timing_.ActiveTimeType = TimeType::Utc;
  timing_.sink = this;
}

void UpdateCycle::Timer_UpdateTimer() {
  // An attempt is polling: it goes on untouched, and this one is not begun.
  if (Polling()) return;

  front_.AttemptBegan();
  char name[kPortNameSize];
  const bool named = PortOpenName(activePort_, name);
  const int opened = named ? OpenLink(link_, name) : -1;
  ++attemptCount_;
  result_ = AttemptResult{};
  if (opened != 0) {
    if (!named) {
      result_.portError = kLongPortNameText;
    } else if (link_.port != nullptr) {
      result_.portError = link_.port->LastErrorText();
    }
    ReportOutcome(UpdateOutcome::ComFailure);
    return;
  }
  phase_ = Phase::Polling;
  const CycleChoices choices = front_.Choices();
  PrepareLink(link_, choices.line);
  pulse_.Begin(*link_.port, choices.pulse, *link_.clock);
  pollCountdown_ = kPollsPerAttempt;
  timerPoll_.SetEnabled(true);
}

void UpdateCycle::Timer_DAROTimer() {
  if (!AwaitsPacket()) return;
  if (link_.protocol == ReceiverProtocol::Daro) RequestTime(link_);  // NMEA is never asked
  if (ReadAndApply()) return;  // the attempt has reported its outcome
  if (--pollCountdown_ <= 0) {
    pollCountdown_ = kPollsPerAttempt;
    if (phase_ == Phase::Confirming) {
      Refuse(Refusal::Unconfirmed);
    } else {
      ReportOutcome(UpdateOutcome::DaroFailure);
    }
  }
}

void UpdateCycle::BytesArrived() {
  if (AwaitsPacket()) ReadAndApply();
}

bool UpdateCycle::ReadAndApply() {
  ReadLink(link_, [this](ReceiverLink& completed) { DispatchPacket(completed, timing_); });
  if (phase_ == Phase::Taken) return ApplyReport(report_, false);
  if (phase_ == Phase::Confirmer) return ApplyReport(report_, true);
  return false;
}

// Called from inside the receive loop: the packet is applied once the loop has returned.
// A packet that came while nobody looked is not the attempt's: it waits for the next one.
void UpdateCycle::TimingPacketReceived(const TimingReport& report) {
  if (!AwaitsPacket() || !IsPlaced(report) || pulse_.Awaits(report.arrival)) return;
  phase_ = phase_ == Phase::Polling ? Phase::Taken : Phase::Confirmer;
  report_ = report;
}

bool UpdateCycle::ApplyReport(const TimingReport& report, bool confirming) {
  front_.TimeOfWeekReceived(report.fields, timing_.ActiveTimeType);
  result_.packetTaken = true;
  result_.packet = report.packet;
  ClockSample sample;
  const Refusal refusal = SampleOf(report, activeLatencyMs_, earliest_, &sample);
  if (refusal != Refusal::None) {
    Refuse(refusal);
    return true;
  }
  result_.rolloverWeeks = sample.rolloverWeeks;
  result_.pulse = pulse_.Line();
  result_.pulseFit = pulse_.Refine(&sample);
  if (result_.pulseFit == PulseFit::NoLine) result_.portError = link_.port->LastErrorText();
  result_.correctionSeconds = static_cast<double>(sample.offsetNs) / 1e9;
  if (ExceedsLimit(sample, activeLimitSeconds_)) {
    Refuse(Refusal::OverLimit);
    return true;
  }
  // A large correction waits for the next packet to say the same; each packet that does not is
  // the one the next must agree with.
  if (NeedsConfirming(sample) && !(confirming && Confirms(unconfirmedSample_, sample))) {
    unconfirmedSample_ = sample;
    phase_ = Phase::Confirming;
    return false;
  }
  // The receiver's time for the moment the packet began to arrive (or for its pulse's edge), and
  // as long again as has passed since, read just before the clock is set: for a clock set in
  // whole milliseconds, when the receiver's time is one.
  const ClockReading now =
      AwaitWholeStep(sample, link_.clock->Now(), *link_.clock, clock_.ResolutionNs());
  const std::int64_t receiverNowNs = ReceiverNsAt(sample, now.monotonicNs);
  const double offsetSeconds = static_cast<double>(receiverNowNs - now.systemNs) / 1e9;
  DisciplineAction action;
  action.step = true;
  if (disciplineOn_) {
    action = discipline_.Update(now.systemNs, receiverNowNs - now.systemNs,
                                static_cast<double>(timerUpdate_.Interval()) / 1000.0);
    if (discipline_.NotFollowing()) {
      StopDiscipline(kNotFollowingText);
      action.step = true;
    } else if (!action.step && SteerRate(action.ratePpm)) {
      // Held by its rate alone: the offset measured is what the rate now closes.
      result_.clockAsked = true;
      result_.stepped = false;
      result_.offsetSeconds = offsetSeconds;
      ReportOutcome(UpdateOutcome::Success);
      return true;
    }
  }
  const UpdateOutcome outcome =
      ApplyReceiverTime(ReceiverTimeOf(receiverNowNs), clock_, &result_.clockTime);
  result_.clockAsked = outcome != UpdateOutcome::BadTime;
  if (result_.clockAsked) {
    result_.offsetSeconds = offsetSeconds;
  } else {
    result_.refusal = Refusal::NotADate;
  }
  if (disciplineOn_ && outcome == UpdateOutcome::Success) {
    SteerRate(action.ratePpm);
  } else if (disciplineOn_) {
    discipline_.Reset();  // the step it counted on was not made: its samples no longer fit
  }
  ReportOutcome(outcome);
  return true;
}

bool UpdateCycle::SteerRate(double ppm) {
  rateSet_ = true;
  if (clock_.SetRate(ppm)) return true;
  StopDiscipline(kRateNotKeptText);
  return false;
}

void UpdateCycle::StopDiscipline(const char* why) {
  if (rateSet_) clock_.ReleaseRate();
  rateSet_ = false;
  disciplineOn_ = false;
  if (*why != '\0') disciplineNote_ = why;
}

void UpdateCycle::StartDiscipline(bool wanted) {
  StopDiscipline("");
  discipline_.Reset();
  if (!wanted) return;
  disciplineNote_ = clock_.RateBlocker();
  disciplineOn_ = *disciplineNote_ == '\0';
}

void UpdateCycle::Refuse(Refusal refusal) {
  result_.refusal = refusal;
  result_.limitSeconds = activeLimitSeconds_;
  if (refusal == Refusal::Unconfirmed) {
    result_.correctionSeconds = static_cast<double>(unconfirmedSample_.offsetNs) / 1e9;
  }
  ReportOutcome(UpdateOutcome::BadTime);
}

void UpdateCycle::ReportOutcome(UpdateOutcome outcome) {
  timerPoll_.SetEnabled(false);
  pulse_.End();
  CloseLink(link_);
  phase_ = Phase::Idle;
  if (attemptCount_ > kMostAttemptsCounted) {
    attemptCount_ = 1;
    successCount_ = 0;
  }
  if (outcome == UpdateOutcome::Success) ++successCount_;
  // An update with no sample: the clock keeps the rate estimated, without the phase correction.
  if (disciplineOn_ && rateSet_ && outcome != UpdateOutcome::Success) {
    SteerRate(discipline_.Holdover());
  }
  result_.disciplined = disciplineOn_;
  result_.ratePpm = disciplineOn_ ? discipline_.RatePpm() : 0;
  result_.disciplineNote = disciplineNote_;
  disciplineNote_ = "";
  result_.outcome = outcome;
  result_.port = activePort_;
  result_.protocol = link_.protocol;
  result_.ended = link_.clock->Now();
  result_.successes = successCount_;
  result_.attempts = attemptCount_;
  front_.AttemptEnded(result_);
}

void UpdateCycle::Abandon() {
  StopDiscipline("");
  pulse_.End();
  if (link_.isOpen) CloseLink(link_);
  phase_ = Phase::Idle;
}

bool UpdateCycle::RefusesTimeType(const CycleChoices& choices) {
  if (choices.protocol != ReceiverProtocol::Nmea || choices.timeType != TimeType::Gps) return false;
  front_.Refused(kNmeaGpsMessage);
  return true;
}

void UpdateCycle::TakeChoices(const CycleChoices& choices) {
  activePort_ = choices.port;
  timing_.ActiveTimeType = choices.timeType;
  activeLatencyMs_ = choices.latencyMs;
  activeLimitSeconds_ = choices.maxCorrectionSeconds;
  link_.protocol = choices.protocol;
}

void UpdateCycle::StartUpdates() {
  const CycleChoices choices = front_.Choices();
  // A text that is not "dd hh:mm" (-1) gives no period either; the front ends check their own.
  const std::int64_t period = choices.intervalMs;
  if (period <= 0) {
    front_.Refused(kZeroIntervalMessage);
    return;
  }
  if (period > std::numeric_limits<std::uint32_t>::max()) {
    front_.Refused(kLongIntervalMessage);
    return;
  }
  if (RefusesTimeType(choices)) return;
  timerUpdate_.SetInterval(static_cast<std::uint32_t>(period));
  TakeChoices(choices);
  StartDiscipline(choices.discipline);
  if (settings_ != nullptr) settings_->SaveSettings();
  timerUpdate_.SetEnabled(true);
  // An attempt still polling (begun before a Stop) counts as the first of this run, so that its
  // outcome shows 1/1 or 0/1 and successes never exceed attempts.
  attemptCount_ = Polling() ? 1 : 0;
  successCount_ = 0;
  front_.ScheduleChanged(true);
  Timer_UpdateTimer();
}

void UpdateCycle::StopUpdates() {
  StopDiscipline("");
  front_.ScheduleChanged(false);
  timerUpdate_.SetEnabled(false);
}

void UpdateCycle::RefreshTime() {
  const CycleChoices choices = front_.Choices();
  if (RefusesTimeType(choices)) return;
  TakeChoices(choices);
  Timer_UpdateTimer();
}

std::string ReasonText(const AttemptResult& result) {
  if (result.outcome == UpdateOutcome::ComFailure && !result.portError.empty()) {
    return "port " + PortDisplayName(result.port) + ": " + result.portError;
  }
  if (result.outcome == UpdateOutcome::DaroFailure && result.protocol == ReceiverProtocol::Nmea) {
    return kNoSentenceText;
  }
  if (result.outcome != UpdateOutcome::BadTime) return "";
  return RefusalText(result.refusal, result.correctionSeconds, result.limitSeconds);
}

UpdateEngine::UpdateEngine(SerialPort& port, Timer& timerUpdate, Timer& timerPoll,
                           ClockSetter& clock, CycleFrontEnd& front)
    : link(std::make_unique<ReceiverLink>()),
      cycle(*link, timerUpdate, timerPoll, clock, front) {
  link->port = &port;
}

}  // namespace clockagent
