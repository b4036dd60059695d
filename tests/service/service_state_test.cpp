// The service's texts on its pipes, and its front end over a store in memory.
#include <gtest/gtest.h>

#include "record/update_record.h"
#include "service/service_state.h"
#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

TEST(ServiceTexts, StateGoesAndComesBackWhole) {
  ServiceState state;
  EXPECT_EQ(EncodeState(state), "schedule=Off\npolling=0");
  state.started = true;
  state.polling = true;
  state.ended = true;
  state.outcome = UpdateOutcome::SystemUpdateFailure;
  state.endedNs = 1796721829123000000;
  state.timeOfWeek = " Tue 09:24:07.00";
  state.successes = 2;
  state.attempts = 5;
  state.offsetKnown = true;
  state.offsetSeconds = -0.0125;
  state.disciplined = true;
  state.ratePpm = -100.0124;
  const std::string text = EncodeState(state);
  EXPECT_EQ(text,
            "schedule=On\npolling=1\noutcome=3\ncounters=2/5\nended=1796721829123000000\n"
            "timeOfWeek= Tue 09:24:07.00\noffset=-0.012500\nrate=-100.012");
  ServiceState back;
  ASSERT_TRUE(DecodeState(text, &back));
  EXPECT_EQ(EncodeState(back), text);

  for (const char* bad : {"", "schedule=on\npolling=0", "schedule=On\npolling=2",
                          "schedule=On\npolling=0\noutcome=1\ncounters=3/2",
                          "schedule=On\npolling=0\noutcome=1\ncounters=x",
                          "schedule=On\npolling=0\noutcome=1\ncounters=1/1\nended=-5"}) {
    EXPECT_FALSE(DecodeState(bad, &back)) << bad;
  }
  // A rate no discipline sets is no rate.
  ASSERT_TRUE(DecodeState("schedule=On\npolling=0\noutcome=0\ncounters=1/1\nended=5\nrate=501",
                          &back));
  EXPECT_FALSE(back.disciplined);
}

TEST(ServiceTexts, RequestsAreWholeOrRefused) {
  CycleChoices choices;
  choices.port.number = 12;
  choices.line.baudRateIndex = 4;
  choices.line.parityIndex = 2;
  choices.intervalMs = 113400000;
  choices.timeType = TimeType::Gps;
  choices.latencyMs = -25;
  choices.pulse = PulseLine::Cts;
  choices.discipline = true;
  choices.protocol = ReceiverProtocol::Nmea;
  const std::string start = EncodeRequest(ServiceRequest::Start, choices);
  EXPECT_EQ(start,
            "start\nport=12\nbaud=4\ndata=1\nparity=2\nstop=0\ninterval=113400000\ntime=gps\n"
            "latency=-25\npulse=CTS\ndiscipline=ON\nprotocol=NMEA");
  ServiceRequest request;
  CycleChoices back;
  ASSERT_TRUE(DecodeRequest(start, &request, &back));
  EXPECT_EQ(request, ServiceRequest::Start);
  EXPECT_EQ(EncodeRequest(ServiceRequest::Start, back), start);
  for (const auto& [text, expected] : std::vector<std::pair<std::string, ServiceRequest>>{
           {"state", ServiceRequest::State},
           {"refresh", ServiceRequest::Refresh},
           {"stop", ServiceRequest::Stop}}) {
    ASSERT_TRUE(DecodeRequest(text, &request, &back)) << text;
    EXPECT_EQ(request, expected);
    EXPECT_EQ(EncodeRequest(expected), text);
  }
  // A Start never goes on half a request: every field there and in range.
  const std::pair<const char*, const char*> spoilt[] = {
      {"port=12", "port=21"},   {"baud=4", "baud=5"},        {"parity=2", "parity=-1"},
      {"time=gps", "time=GPS"}, {"latency=-25", "latency=1001"}, {"\nstop=0", ""},
      {"interval=113400000", "interval=x"}, {"pulse=CTS", "pulse=cts"}, {"\npulse=CTS", ""}};
  for (const auto& [good, bad] : spoilt) {
    std::string text = start;
    text.replace(text.find(good), std::string(good).size(), bad);
    EXPECT_FALSE(DecodeRequest(text, &request, &back)) << text;
  }
  // An older window's Start, without the discipline or the protocol: off, and DARO.
  ASSERT_TRUE(DecodeRequest(start.substr(0, start.find("\ndiscipline")), &request, &back));
  EXPECT_FALSE(back.discipline);
  EXPECT_EQ(back.protocol, ReceiverProtocol::Daro);
  for (const char* unknown : {"", "State", "refresh now", "reboot"}) {
    EXPECT_FALSE(DecodeRequest(unknown, &request, &back)) << unknown;
  }
}

class ServiceFrontTest : public ::testing::Test {
 protected:
  ServiceFrontTest() {
    engine.link->clock = &linkClock;
    front.Attach(engine.cycle);
    engine.cycle.SetSettingsSaver(&front);
  }
  void Store(const char* name, const char* text) { store.values[name] = {text, true}; }

  MemoryStore store;
  ServiceFront front{store};
  RecordingPort port;
  TimerState timerUpdate{kDefaultUpdateIntervalMs};
  TimerState timerPoll{kPollIntervalMs, true};
  DryRunClockSetter clock;
  FakeLinkClock linkClock;
  UpdateEngine engine{port, timerUpdate, timerPoll, clock, front};
};

TEST_F(ServiceFrontTest, TheStoredSettingsAreItsChoicesAndItsScheduleRunsUnlessStoppedBefore) {
  EXPECT_TRUE(front.Load());  // a first run: the defaults, and updates run
  EXPECT_EQ(front.Choices().intervalMs, 21600000);
  Store(kCommValue, "COM7");
  Store(kBaudRateValue, "4");
  Store(kIntervalValue, "60");
  Store(kTimeTypeValue, "GPS");
  Store(kLatencyValue, "25");
  Store(kPulseValue, "DCD");
  Store(kServiceScheduleValue, "OFF");
  EXPECT_FALSE(front.Load());
  const CycleChoices choices = front.Choices();
  EXPECT_EQ(choices.port.number, 7);
  EXPECT_EQ(choices.line.baudRateIndex, 4);
  EXPECT_EQ(choices.intervalMs, 60000);
  EXPECT_EQ(choices.timeType, TimeType::Gps);
  EXPECT_EQ(choices.latencyMs, 25);
  EXPECT_EQ(choices.pulse, PulseLine::Dcd);
  Store(kPulseValue, "dcd");  // anything but NONE, DCD and CTS is NONE
  Store(kServiceScheduleValue, "ON");
  EXPECT_TRUE(front.Load());
  EXPECT_EQ(front.Choices().pulse, PulseLine::None);
}

TEST_F(ServiceFrontTest, StartStoresTheSettingsAndTheScheduleAndTheStateFollowsTheAttempts) {
  UpdateCycle& cycle = engine.cycle;
  CycleChoices choices;
  choices.port.number = 3;
  choices.intervalMs = 60000;
  choices.pulse = PulseLine::Cts;
  front.Choose(choices);
  port.opens = false;
  linkClock.now.systemNs =
      (DaysFromCivil(2026, 12, 8) * 86400 + 9 * 3600 + 23 * 60 + 49) * std::int64_t{1000000000} +
      123000000;
  cycle.StartUpdates();
  EXPECT_EQ(store.values[kCommValue].text, "COM3");
  EXPECT_EQ(store.values[kIntervalValue].text, "60");
  EXPECT_EQ(store.values[kPulseValue].text, "CTS");
  EXPECT_EQ(store.values[kServiceScheduleValue].text, "ON");
  ServiceState state = front.State();
  EXPECT_TRUE(state.started);
  EXPECT_FALSE(state.polling);
  ASSERT_TRUE(state.ended);
  EXPECT_EQ(state.outcome, UpdateOutcome::ComFailure);
  EXPECT_EQ(state.attempts, 1);
  EXPECT_EQ(UtcText(state.endedNs), "2026-12-08T09:23:49.123Z");

  cycle.StopUpdates();
  EXPECT_EQ(store.values[kServiceScheduleValue].text, "OFF");
  EXPECT_FALSE(front.State().started);

  choices.intervalMs = 0;
  front.Choose(choices);
  cycle.StartUpdates();
  EXPECT_EQ(front.TakeRefusal(), kZeroIntervalMessage);
  EXPECT_EQ(front.TakeRefusal(), "");
}

}  // namespace
}  // namespace clockagent::test
