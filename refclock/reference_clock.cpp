// The receiver as a reference clock.
#include "refclock/reference_clock.h"

#include <algorithm>
#include <cstdio>

#include "receiver/serial_link.h"
#include "update/clock_sample.h"
#include "update/clock_setting.h"

namespace clockagent {
namespace {

constexpr std::int64_t kSilentAfterNs = 5 * kNsPerSecond;
constexpr std::int64_t kReopenAfterNs = 10 * kNsPerSecond;
// A broadcasting receiver sends every second: after three seconds without one, it is asked again.
constexpr std::int64_t kBroadcastGoneNs = 3 * kNsPerSecond;

}  // namespace

ReferenceClock::ReferenceClock(const CycleChoices& choices, SerialPort& port, LinkClock& clock,
                               std::vector<std::unique_ptr<SampleOutput>> outputs)
    : choices_(choices),
      port_(port),
      clock_(clock),
      outputs_(std::move(outputs)),
      link_(std::make_unique<ReceiverLink>()),
      lastHeardNs_(clock.Now().monotonicNs) {
  link_->port = &port;
  link_->clock = &clock;
  link_->protocol = choices.protocol;
  timing_.ActiveTimeType = choices.timeType;
  timing_.sink = this;
}

ReferenceClock::~ReferenceClock() { CloseLink(*link_); }

bool ReferenceClock::Tick() {
  const std::int64_t now = clock_.Now().monotonicNs;
  // A receiver unplugged and plugged in again is a new device behind the same name, and a line
  // that has gone never reads again: only a fresh open finds it.
  if (link_->isOpen && now - std::max(lastHeardNs_, openedNs_) >= kReopenAfterNs) {
    CloseLink(*link_);
  }
  if (!link_->isOpen) {
    char name[kPortNameSize];
    PortOpenName(choices_.port, name);
    const bool wasAway = portAway_;
    portAway_ = OpenLink(*link_, name) != 0;
    if (portAway_) portWords_ = port_.LastErrorText();
    if (!portAway_) {
      PrepareLink(*link_, choices_.line);
      pulse_.Begin(port_, choices_.pulse, clock_);
      portWords_ = port_.LastErrorText();  // why the line cannot be watched, if it cannot
      openedNs_ = now;
      // Back after the port could not be opened: waiting for the receiver, as at the start.
      if (wasAway) {
        lastHeardNs_ = now;
        heardAny_ = false;
      }
    }
  }
  // An NMEA receiver is never asked: it speaks every second unasked.
  if (link_->isOpen && choices_.protocol == ReceiverProtocol::Daro &&
      (!heardBroadcast_ || now - lastBroadcastNs_ >= kBroadcastGoneNs)) {
    RequestTime(*link_);
  }
  const ReceiverState state = StateAt(now);
  const Refusal refusal = state == ReceiverState::NoTime ? refusal_ : Refusal::None;
  if (told_ && state == toldState_ && rolloverWeeks_ == toldRolloverWeeks_ &&
      refusal == toldRefusal_ && fit_ == toldFit_) {
    return false;
  }
  told_ = true;
  toldFit_ = fit_;
  toldState_ = state;
  toldRolloverWeeks_ = rolloverWeeks_;
  toldRefusal_ = refusal;
  return true;
}

std::string ReferenceClock::StatusText() const {
  char offset[48] = "none";
  if (sampled_) {
    std::snprintf(offset, sizeof offset, "%+.6f s", static_cast<double>(lastOffsetNs_) * 1e-9);
  }
  return "samples " + std::to_string(samplesSent_) + ", last offset " + offset + ", " +
         StateText();
}

ArrivalHandler ReferenceClock::Arrival() {
  return LinkArrival(
      port_, [this] { return link_->isOpen && !link_->inPacket; },
      [this] { return link_->isOpen != 0; },
      [this] {
        if (!link_->isOpen) return;
        ReadLink(*link_, [this](ReceiverLink& completed) { DispatchPacket(completed, timing_); });
      });
}

void ReferenceClock::TimingPacketReceived(const TimingReport& report) {
  const std::int64_t at = report.arrival.monotonicNs;
  lastHeardNs_ = at;
  if (report.packet != TimingPacket::Packet41) {  // 0x8F-AB and NMEA come unasked
    lastBroadcastNs_ = at;
    heardBroadcast_ = true;
  }
  // A packet left for the next, to see whether the pulse times it, is still waited on.
  if (pulse_.Awaits(report.arrival)) return;
  heardAny_ = true;
  ClockSample sample;
  refusal_ = SampleOf(report, choices_.latencyMs, kReleaseReceiverTime, &sample);
  if (refusal_ != Refusal::None) {
    for (const auto& output : outputs_) output->Refused();
    return;
  }
  fit_ = pulse_.Refine(&sample);
  bool sent = false;
  for (const auto& output : outputs_) {
    if (output->Send(sample, at)) sent = true;
  }
  if (sent) ++samplesSent_;
  sampled_ = true;
  lastSampleNs_ = at;
  lastPacket_ = report.packet;
  lastOffsetNs_ = sample.offsetNs;
  rolloverWeeks_ = sample.rolloverWeeks;
}

ReferenceClock::ReceiverState ReferenceClock::StateAt(std::int64_t now) const {
  if (!link_->isOpen) return ReceiverState::NoPort;
  if (sampled_ && now - lastSampleNs_ < kSilentAfterNs) {
    return lastPacket_ == TimingPacket::Packet8FAB ? ReceiverState::Broadcasting
                                                   : ReceiverState::Answering;
  }
  if (now - lastHeardNs_ < kSilentAfterNs) {
    return heardAny_ ? ReceiverState::NoTime : ReceiverState::Waiting;
  }
  return ReceiverState::Silent;
}

std::string ReferenceClock::StateText() const {
  const std::string port = PortDisplayName(choices_.port);
  switch (toldState_) {
    case ReceiverState::Waiting:
      return "waiting for timing packets from " + port;
    case ReceiverState::NoPort:
      return "cannot open " + port + (portWords_.empty() ? "" : " (" + portWords_ + ")") +
             ", trying again each second";
    case ReceiverState::Silent:
      return "no timing packet from " + port + " for 5 s or more, opening it anew every 10 s";
    case ReceiverState::NoTime:
      return "the receiver on " + port + " has no usable time" +
             (toldRefusal_ != Refusal::None ? " (" + RefusalText(toldRefusal_) + ")" : "");
    case ReceiverState::Answering:
    case ReceiverState::Broadcasting:
      break;
  }
  std::string text = choices_.protocol == ReceiverProtocol::Nmea
                         ? "receiving NMEA sentences from " + port
                     : toldState_ == ReceiverState::Broadcasting
                         ? "receiving 0x8F-AB broadcasts from " + port
                         : "receiving 0x41 answers from " + port;
  if (choices_.pulse != PulseLine::None) {
    text += toldFit_ == PulseFit::Pulse
                ? std::string(", timed by the pulse on ") + PulseLineName(choices_.pulse)
                : ", " + PulseFallbackText(choices_.pulse, toldFit_, portWords_.c_str());
  }
  if (toldRolloverWeeks_ > 0) {
    text += ", week rollover: moved forward " + std::to_string(toldRolloverWeeks_) + " weeks";
  }
  return text;
}

}  // namespace clockagent
