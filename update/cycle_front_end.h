// What the update cycle needs of whoever drives it and shows what it does: the window program,
// the console tool, a test. The cycle asks it for the user's choices and tells it what happened.
#pragma once

#include <cstdint>
#include <string>

#include "receiver/pulse_edges.h"
#include "receiver/serial_link.h"
#include "receiver/timing_packets.h"
#include "update/clock_sample.h"
#include "update/clock_setter.h"
#include "update/pulse_timing.h"
#include "update/update_outcome.h"

namespace clockagent {

// What attempts need, as the user has chosen it at the moment the cycle asks: Start and Refresh
// Time take the port, the time type, the latency and the correction limit (Start the interval as
// well), and each attempt the line settings and the pulse line as it begins.
struct CycleChoices {
  PortChoice port;
  SerialLineSettings line;
  TimeType timeType = TimeType::Utc;
  std::int64_t intervalMs = -1;  // IntervalMilliseconds of the "dd hh:mm" text; -1: none
  int latencyMs = 0;  // how long after the moment it names the receiver sends a timing packet
  PulseLine pulse = PulseLine::None;  // the line the receiver's pulse per second is wired to
  std::int32_t maxCorrectionSeconds = 0;  // the largest correction made; 0: no limit
  bool discipline = false;  // hold the clock by its rate between updates (taken at Start)
  ReceiverProtocol protocol = ReceiverProtocol::Daro;  // taken at Start and Refresh Time
};

// How an attempt ended.
struct AttemptResult {
  UpdateOutcome outcome = UpdateOutcome::DaroFailure;
  PortChoice port;               // the port it used
  ReceiverProtocol protocol = ReceiverProtocol::Daro;  // ... and what the receiver speaks
  ClockReading ended;            // when it ended, on the computer's clock
  bool packetTaken = false;      // a timing packet was accepted
  TimingPacket packet = TimingPacket::Packet41;
  bool clockAsked = false;       // its time was usable and the clock was asked to take it
  SystemTime clockTime;          // ... this time, in UTC, to the millisecond
  double offsetSeconds = 0;      // ... the receiver's time less the computer's clock at that
                                 // instant: positive when the computer was behind
  int rolloverWeeks = 0;         // how far a receiver's rolled-over week was moved forward
  PulseLine pulse = PulseLine::None;      // the pulse line watched, and how the packet fitted it:
  PulseFit pulseFit = PulseFit::NoEdge;   // Pulse when the time was taken at its edge
  std::string portError;         // the system's words when the port failed: to open (ComFailure),
                                 // or to report the pulse line (PulseFit::NoLine)
  Refusal refusal = Refusal::None;  // why a Bad Time's time was not set
  double correctionSeconds = 0;  // ... the correction refused (OverLimit, Unconfirmed)
  std::int32_t limitSeconds = 0;  // ... and the limit in force
  std::int32_t successes = 0;    // the counters with this attempt
  std::int32_t attempts = 0;
  bool stepped = true;           // the clock was set to clockTime; false: only its rate was
  bool disciplined = false;      // the discipline holds the clock, at this rate since:
  double ratePpm = 0;            // ... faster than the clock runs by itself (negative: slower)
  const char* disciplineNote = "";  // why the discipline stopped or did not start, at this attempt

  bool TimedByPulse() const { return pulseFit == PulseFit::Pulse; }
  // The pulse line was chosen, but the packet timed the attempt.
  bool PulseMissed() const { return clockAsked && pulse != PulseLine::None && !TimedByPulse(); }
  // PulseFallbackText of a PulseMissed attempt.
  std::string PulseText() const { return PulseFallbackText(pulse, pulseFit, portError.c_str()); }
};

// Why an attempt failed, where that is known: "port /dev/ttyUSB0: No such file or directory" for
// a port that would not open, RefusalText of a refused time; empty otherwise.
std::string ReasonText(const AttemptResult& result);

class CycleFrontEnd {
 public:
  virtual CycleChoices Choices() = 0;

  virtual void AttemptBegan() = 0;
  // The fields of the timing packet an attempt took, and the time type in force: the window shows
  // ShownTimeOfWeek of them, the console tool the time of week as the packet carries it.
  virtual void TimeOfWeekReceived(const TimingFields& fields, TimeType timeType) = 0;
  virtual void AttemptEnded(const AttemptResult& result) = 0;
  // Start (true) or Stop (false).
  virtual void ScheduleChanged(bool started) = 0;
  // Start refused the interval; nothing else changed.
  virtual void Refused(const char* message) = 0;

 protected:
  ~CycleFrontEnd() = default;
};

}  // namespace clockagent
