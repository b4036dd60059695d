// The ClockAgent service's state and requests as its front ends exchange them with it, and the
// front end the service's update cycle has: the stored settings and what its pipes report.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "record/update_record.h"
#include "settings/settings_store.h"
#include "update/cycle_front_end.h"
#include "update/update_cycle.h"
#include "version.h"

namespace clockagent {

constexpr char kServiceName[] = CLOCKAGENT_SERVICE_NAME;
// Interactive users may read the state and ask for Refresh Time here...
constexpr char kStatePipeName[] = CLOCKAGENT_STATE_PIPE;
// ...and only administrators (and the system) may start or stop the schedule, with settings.
constexpr char kControlPipeName[] = CLOCKAGENT_CONTROL_PIPE;

// What the window and `clockagent service status` show of the service.
struct ServiceState {
  bool started = false;   // the schedule: "On"
  bool polling = false;   // an attempt is in progress: the blue icon
  bool ended = false;     // an attempt has ended since the service started; then:
  UpdateOutcome outcome = UpdateOutcome::DaroFailure;
  std::int64_t endedNs = 0;  // when, on the system clock (UtcText and LocalTimeText show it)
  std::string timeOfWeek;  // as the window shows it (" Wed 12:00:00.00"); empty before a packet
  std::int32_t successes = 0;
  std::int32_t attempts = 0;
  bool offsetKnown = false;
  double offsetSeconds = 0;  // behind positive
  std::string reason;        // why it failed, where known (ReasonText); empty otherwise
  bool disciplined = false;  // the clock is held by its rate, at
  double ratePpm = 0;        // ... this correction to its rate
};

enum class ServiceRequest { State, Refresh, Start, Stop };

// The texts on the pipes: a request a message, a reply a message, as "key=value" lines.
std::string EncodeState(const ServiceState& state);
bool DecodeState(const std::string& text, ServiceState* state);
std::string EncodeRequest(ServiceRequest request, const CycleChoices& choices = {});
bool DecodeRequest(const std::string& text, ServiceRequest* request, CycleChoices* choices);
constexpr char kOkReply[] = "ok";
constexpr char kRefusedReply[] = "refused: ";  // followed by the refusal's message
// The message of a refusal, whole; nullptr for any other reply.
inline const char* RefusalMessage(const std::string& reply) {
  return reply.rfind(kRefusedReply, 0) == 0 ? reply.c_str() + std::strlen(kRefusedReply) : nullptr;
}

// The front end of the service's cycle. Its choices are the stored settings (as the window's
// controls hold them), replaced by those a Start request brings; it keeps the state the pipes
// report, and stores the schedule's state and, at Start, the settings.
class ServiceFront final : public CycleFrontEnd, public SettingsSaver {
 public:
  explicit ServiceFront(SettingsStore& store) : store_(store) {}
  void Attach(UpdateCycle& cycle) { cycle_ = &cycle; }

  // The stored settings become the choices; true when the stored schedule runs.
  bool Load();
  // A Start request's settings.
  void Choose(const CycleChoices& choices) { choices_ = choices; }
  // Told of every attempt's end besides: the record, the Event Log.
  void SetObserver(std::function<void(const AttemptResult&)> observer) {
    observer_ = std::move(observer);
  }
  // Told once of a stored setting that cannot be used as it stands (kBadMaxCorrectionWarning).
  void SetWarner(std::function<void(const char*)> warn) { warn_ = std::move(warn); }
  const ServiceState& State() const { return state_; }
  // The last attempt before this run, as the record tells it: shown until one of its own ends.
  void Remember(const LastAttempt& last) {
    state_.ended = true;
    state_.outcome = last.outcome;
    state_.endedNs = last.endedNs;
    state_.offsetKnown = last.offsetKnown;
    state_.offsetSeconds = last.offsetSeconds;
    state_.reason = last.reason;
  }
  // The message of the last refusal, cleared here.
  std::string TakeRefusal();

  CycleChoices Choices() override;
  void AttemptBegan() override { state_.polling = true; }
  void TimeOfWeekReceived(const TimingFields& fields, TimeType timeType) override;
  void AttemptEnded(const AttemptResult& result) override;
  void ScheduleChanged(bool started) override;
  void Refused(const char* message) override { refusal_ = message; }
  void SaveSettings() override;

 private:
  SettingsStore& store_;
  UpdateCycle* cycle_ = nullptr;
  CycleChoices choices_;
  ServiceState state_;
  std::string refusal_;
  std::function<void(const AttemptResult&)> observer_;
  std::function<void(const char*)> warn_;
  bool maxCorrectionWarned_ = false;
};

}  // namespace clockagent
