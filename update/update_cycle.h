// The update cycle: when attempts begin, how the receive poll drives them, and how their outcomes
// are counted and told to the front end.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "receiver/daro_link.h"
#include "receiver/serial_link.h"
#include "receiver/timing_packets.h"
#include "update/clock_discipline.h"
#include "update/clock_sample.h"
#include "update/clock_setter.h"
#include "update/clock_setting.h"
#include "update/cycle_front_end.h"
#include "update/pulse_timing.h"
#include "update/timer.h"

namespace clockagent {

constexpr int kPollsPerAttempt = 30;
constexpr std::uint32_t kPollIntervalMs = 200;
constexpr std::uint32_t kDefaultUpdateIntervalMs = 21600000;  // six hours
constexpr std::int32_t kMostAttemptsCounted = 9999;

// Why the discipline stops, or does not start: the updates step the clock instead.
constexpr char kRateNotKeptText[] = "discipline off: the system did not keep the rate set";
constexpr char kNotFollowingText[] = "discipline off: the clock did not follow its rate";

// Why an attempt of an NMEA receiver ended in a DARO Failure, and why GPS time is refused with it.
constexpr char kNoSentenceText[] =
    "no valid NMEA sentence with a time came (wrong port, line settings, or checksums)";
constexpr char kNmeaGpsMessage[] =
    "An NMEA receiver gives UTC only: choose the time type UTC for it.";

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

class UpdateCycle final : private TimingSink {
 public:
  UpdateCycle(ReceiverLink& link, Timer& timerUpdate, Timer& timerPoll, ClockSetter& clock,
              CycleFrontEnd& front);
  UpdateCycle(const UpdateCycle&) = delete;
  UpdateCycle& operator=(const UpdateCycle&) = delete;

  void SetSettingsSaver(SettingsSaver* saver) { settings_ = saver; }
  // Receiver times before this are week rollovers (see CorrectWeekRollover); the release day
  // unless a test says otherwise.
  void SetEarliestReceiverTime(double receiverTime) { earliest_ = receiverTime; }

  void StartUpdates();
  void StopUpdates();
  void RefreshTime();

  // Begins an attempt; while one is polling, does nothing at all.
  void Timer_UpdateTimer();
  // One receive poll of the attempt in progress: a request, then what the port holds.
  void Timer_DAROTimer();
  // Bytes have arrived at the port between polls: they are read at once, no request sent.
  void BytesArrived();
  // While an attempt polls, how its loop waits for bytes (see PortWaitFor): for a byte that may
  // begin a packet it wakes at once, since the moment that byte began to arrive is what the clock
  // is set from; once a packet has begun, reading what has come every kLookInterval is enough.
  bool WaitsForPacketStart() const { return Polling() && !link_.inPacket; }

  // Ends the attempt in progress with its outcome.
  void ReportOutcome(UpdateOutcome outcome);
  // Ends it without an outcome, as when the program ends: closes a port left open.
  void Abandon();

  std::int32_t AttemptCount() const { return attemptCount_; }
  std::int32_t SuccessCount() const { return successCount_; }
  const PortChoice& ActivePort() const { return activePort_; }
  int ActiveLatencyMs() const { return activeLatencyMs_; }
  TimeType ActiveTimeType() const { return timing_.ActiveTimeType; }
  std::uint32_t UpdateInterval() const { return timerUpdate_.Interval(); }
  bool Started() const { return timerUpdate_.Enabled(); }
  bool Polling() const { return phase_ != Phase::Idle; }

 private:
  // Where the attempt in progress stands. A packet is taken inside the receive loop and applied
  // once the loop has returned; a large correction waits for a second packet to say the same.
  enum class Phase : std::uint8_t {
    Idle,        // no attempt polls
    Polling,     // for the attempt's timing packet
    Taken,       // ... which has come (report_), to be applied
    Confirming,  // for a packet to confirm the large correction of unconfirmedSample_
    Confirmer,   // ... which has come (report_), to be applied
  };
  bool AwaitsPacket() const { return phase_ == Phase::Polling || phase_ == Phase::Confirming; }

  // Takes the user's choices for the attempts to come: the port, the time type, the latency and
  // the correction limit.
  void TakeChoices(const CycleChoices& choices);
  // GPS time from an NMEA receiver, which gives UTC only: refused (told to the front end), true.
  bool RefusesTimeType(const CycleChoices& choices);
  void TimingPacketReceived(const TimingReport& report) override;
  // Reads what the port holds; true when that ended the attempt.
  bool ReadAndApply();
  // True when the packet ended the attempt; false when its correction waits for a second word.
  bool ApplyReport(const TimingReport& report, bool confirming);
  void Refuse(Refusal refusal);
  // The discipline as Start finds it wanted: a rate handed back, the estimates forgotten.
  void StartDiscipline(bool wanted);
  // Sets the rate; false, the discipline stopped with kRateNotKeptText, when the system did not
  // keep it.
  bool SteerRate(double ppm);
  // Ends the discipline: the rate handed back, `why` told with the attempt (empty: not told).
  void StopDiscipline(const char* why);

  ReceiverLink& link_;
  Timer& timerUpdate_;
  Timer& timerPoll_;
  ClockSetter& clock_;
  CycleFrontEnd& front_;
  SettingsSaver* settings_ = nullptr;
  double earliest_ = kReleaseReceiverTime;

  std::int32_t attemptCount_ = 0;
  std::int32_t successCount_ = 0;
  int pollCountdown_ = kPollsPerAttempt;
  PortChoice activePort_;  // COM1 until Start or Refresh Time
  int activeLatencyMs_ = 0;
  std::int32_t activeLimitSeconds_ = 0;  // the largest correction made; 0: none
  TimingContext timing_;   // ActiveTimeType, for the packet handlers
  Phase phase_ = Phase::Idle;
  AttemptResult result_;   // of the attempt in progress
  TimingReport report_;    // the packet taken (Taken, Confirmer)
  ClockSample unconfirmedSample_;  // the large correction to confirm (Confirming, Confirmer)
  PulseWatch pulse_;  // the pulse line, watched while an attempt polls
  ClockDiscipline discipline_;
  bool disciplineOn_ = false;  // wanted at Start, and not stopped since
  bool rateSet_ = false;       // a rate is set: handed back at Stop, exit, or a new Start
  const char* disciplineNote_ = "";  // told with the attempt that ends next
};

// A serial port, the receiver link over it and an update cycle wired to timers, a clock and a
// front end: what the window program, the console tool, the benchmark and the tests each run.
class UpdateEngine {
 public:
  UpdateEngine(SerialPort& port, Timer& timerUpdate, Timer& timerPoll, ClockSetter& clock,
               CycleFrontEnd& front);
  ~UpdateEngine() { cycle.Abandon(); }
  UpdateEngine(const UpdateEngine&) = delete;
  UpdateEngine& operator=(const UpdateEngine&) = delete;

  std::unique_ptr<ReceiverLink> link;  // 8 KiB of buffers: on the heap
  UpdateCycle cycle;
};

}  // namespace clockagent
