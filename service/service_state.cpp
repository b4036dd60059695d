// The service's state and requests as text, and its front end.
#include "service/service_state.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "settings/stored_choices.h"
#include "update/clock_setting.h"
#include "update/interval_text.h"

namespace clockagent {
namespace {

// The value of `key` in "key=value" lines; false when there is none.
bool Field(const std::string& text, const char* key, std::string* value) {
  const std::string prefix = std::string(key) + "=";
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, prefix.size(), prefix) == 0) {
      *value = text.substr(at + prefix.size(), end - at - prefix.size());
      return true;
    }
    at = end + 1;
  }
  return false;
}

// A whole decimal number in [low, high].
bool Number(const std::string& text, long long low, long long high, long long* value) {
  if (text.empty() || text.size() > 19) return false;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

bool NumberField(const std::string& text, const char* key, long long low, long long high,
                 long long* value) {
  std::string field;
  return Field(text, key, &field) && Number(field, low, high, value);
}

}  // namespace

std::string EncodeState(const ServiceState& state) {
  std::string text = std::string("schedule=") + (state.started ? "On" : "Off") +
                     "\npolling=" + (state.polling ? "1" : "0");
  if (state.ended) {
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "\noutcome=%d\ncounters=%d/%d\nended=%lld",
                  static_cast<int>(state.outcome), static_cast<int>(state.successes),
                  static_cast<int>(state.attempts), static_cast<long long>(state.endedNs));
    text += numbers;
    text += "\ntimeOfWeek=" + state.timeOfWeek;
    if (state.offsetKnown) {
      std::snprintf(numbers, sizeof numbers, "\noffset=%.6f", state.offsetSeconds);
      text += numbers;
    }
    if (!state.reason.empty()) text += "\nreason=" + state.reason;
    if (state.disciplined) {
      std::snprintf(numbers, sizeof numbers, "\nrate=%.3f", state.ratePpm);
      text += numbers;
    }
  }
  return text;
}

bool DecodeState(const std::string& text, ServiceState* state) {
  ServiceState s;
  std::string field;
  if (!Field(text, "schedule", &field) || (field != "On" && field != "Off")) return false;
  s.started = field == "On";
  if (!Field(text, "polling", &field) || (field != "0" && field != "1")) return false;
  s.polling = field == "1";
  long long outcome = 0;
  if (NumberField(text, "outcome", 0, 4, &outcome)) {
    s.ended = true;
    s.outcome = static_cast<UpdateOutcome>(outcome);
    unsigned successes = 0, attempts = 0;
    char tail = 0;
    if (!Field(text, "counters", &field) ||
        std::sscanf(field.c_str(), "%u/%u%c", &successes, &attempts, &tail) != 2 ||
        attempts > 1000000 || successes > attempts) {
      return false;
    }
    s.successes = static_cast<std::int32_t>(successes);
    s.attempts = static_cast<std::int32_t>(attempts);
    long long ended = 0;
    if (!NumberField(text, "ended", 0, 9223372036854775807LL, &ended)) return false;
    s.endedNs = ended;
    Field(text, "timeOfWeek", &s.timeOfWeek);
    if (Field(text, "offset", &field)) {
      char* end = nullptr;
      s.offsetSeconds = std::strtod(field.c_str(), &end);
      s.offsetKnown = !field.empty() && *end == '\0';
    }
    Field(text, "reason", &s.reason);
    if (Field(text, "rate", &field)) {
      char* end = nullptr;
      s.ratePpm = std::strtod(field.c_str(), &end);
      s.disciplined = !field.empty() && *end == '\0' && std::fabs(s.ratePpm) <= kLargestRatePpm;
    }
  }
  *state = s;
  return true;
}

std::string EncodeRequest(ServiceRequest request, const CycleChoices& choices) {
  switch (request) {
    case ServiceRequest::State: return "state";
    case ServiceRequest::Refresh: return "refresh";
    case ServiceRequest::Stop: return "stop";
    case ServiceRequest::Start: break;
  }
  char text[256];
  std::snprintf(text, sizeof text,
                "start\nport=%d\nbaud=%d\ndata=%d\nparity=%d\nstop=%d\ninterval=%lld\ntime=%s\n"
                "latency=%d\npulse=%s\ndiscipline=%s\nprotocol=%s",
                choices.port.number, choices.line.baudRateIndex, choices.line.dataBitsIndex,
                choices.line.parityIndex, choices.line.stopBitsIndex,
                static_cast<long long>(choices.intervalMs),
                choices.timeType == TimeType::Utc ? "utc" : "gps", choices.latencyMs,
                PulseLineName(choices.pulse), choices.discipline ? "ON" : "OFF",
                choices.protocol == ReceiverProtocol::Nmea ? "NMEA" : "DARO");
  return text;
}

bool DecodeRequest(const std::string& text, ServiceRequest* request, CycleChoices* choices) {
  const std::string verb = text.substr(0, text.find('\n'));
  if (verb == "state" || verb == "refresh" || verb == "stop") {
    *request = verb == "state" ? ServiceRequest::State
               : verb == "refresh" ? ServiceRequest::Refresh
                                   : ServiceRequest::Stop;
    return text == verb;
  }
  if (verb != "start") return false;
  // Every field must be there and in range: a Start never goes on half a request.
  CycleChoices c;
  long long value = 0;
  if (!NumberField(text, "port", 1, kPortCount, &value)) return false;
  c.port.number = static_cast<int>(value);
  const char* const lineKeys[] = {"baud", "data", "parity", "stop"};
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    if (!NumberField(text, lineKeys[i], 0, kLineLists[i].count - 1, &value)) return false;
    c.line.*kLineLists[i].index = static_cast<int>(value);
  }
  if (!NumberField(text, "interval", -1, 8915940000LL, &value)) return false;
  c.intervalMs = value;
  std::string field;
  if (!Field(text, "time", &field) || (field != "utc" && field != "gps")) return false;
  c.timeType = field == "utc" ? TimeType::Utc : TimeType::Gps;
  if (!NumberField(text, "latency", -kLongestLatencyMs, kLongestLatencyMs, &value)) return false;
  c.latencyMs = static_cast<int>(value);
  if (!Field(text, "pulse", &field) || !PulseLineNamed(field, &c.pulse)) return false;
  // Absent: an older window's Start, which knew neither.
  c.discipline = Field(text, "discipline", &field) && field == "ON";
  c.protocol = Field(text, "protocol", &field) && field == "NMEA" ? ReceiverProtocol::Nmea
                                                                   : ReceiverProtocol::Daro;
  *request = ServiceRequest::Start;
  *choices = c;
  return true;
}

bool ServiceFront::Load() {
  choices_ = CycleChoices{};
  choices_.intervalMs = kDefaultUpdateIntervalMs;
  ApplyStoredChoices(store_, &choices_);
  char text[kSettingTextSize];
  return !ReadSetting(store_, StoreRoot::LocalMachine, kSettingsKey, kServiceScheduleValue, text) ||
         std::strcmp(text, "OFF") != 0;
}

std::string ServiceFront::TakeRefusal() {
  std::string refusal;
  refusal.swap(refusal_);
  return refusal;
}

CycleChoices ServiceFront::Choices() {
  CycleChoices choices = choices_;
  choices.latencyMs = LoadLatency(store_);
  bool invalid = false;
  choices.maxCorrectionSeconds = LoadMaxCorrection(store_, &invalid);
  if (invalid && !maxCorrectionWarned_ && warn_) {
    maxCorrectionWarned_ = true;
    warn_(kBadMaxCorrectionWarning);
  }
  return choices;
}

void ServiceFront::TimeOfWeekReceived(const TimingFields& fields, TimeType timeType) {
  char text[kTimeOfWeekTextSize];
  FormatTimeOfWeek(ShownTimeOfWeek(fields, timeType), text);
  state_.timeOfWeek = text;
}

void ServiceFront::AttemptEnded(const AttemptResult& result) {
  state_.polling = false;
  state_.ended = true;
  state_.outcome = result.outcome;
  state_.endedNs = result.ended.systemNs;
  state_.successes = result.successes;
  state_.attempts = result.attempts;
  state_.offsetKnown = result.clockAsked;
  state_.offsetSeconds = result.offsetSeconds;
  state_.reason = ReasonText(result);
  if (*result.disciplineNote != '\0') {
    state_.reason += (state_.reason.empty() ? "" : "; ") + std::string(result.disciplineNote);
  }
  state_.disciplined = result.disciplined;
  state_.ratePpm = result.ratePpm;
  if (observer_) observer_(result);
}

void ServiceFront::ScheduleChanged(bool started) {
  state_.started = started;
  WriteSetting(store_, StoreRoot::LocalMachine, kSettingsKey, kServiceScheduleValue,
               started ? "ON" : "OFF");
}

void ServiceFront::SaveSettings() {
  SettingsToSave settings;
  settings.intervalMs = cycle_->UpdateInterval();
  settings.timeType = cycle_->ActiveTimeType();
  settings.portNumber = cycle_->ActivePort().number;
  settings.line = choices_.line;
  char text[kSettingTextSize];
  settings.autoStart = ReadSetting(store_, StoreRoot::LocalMachine, kSettingsKey, kAutoStartValue, text) &&
                       std::strcmp(text, "ON") == 0;  // the window's choice, kept as it is
  clockagent::SaveSettings(store_, settings);
  SavePulse(store_, choices_.pulse);
  SaveDiscipline(store_, choices_.discipline);
  SaveProtocol(store_, choices_.protocol);
}

}  // namespace clockagent
