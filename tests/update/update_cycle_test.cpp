// The update cycle tick by tick, with a port in memory, timers as state and a recording front end.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "tests/support/test_support.h"
#include "update/interval_text.h"
#include "update/update_cycle.h"

namespace clockagent::test {
namespace {

const Bytes kExample41 = {0x48, 0x93, 0xA8, 0x00, 0x04, 0xB0, 0x41, 0x50, 0x00, 0x00};
// 2003-01-08 11:59:47 UTC, the time of kExample41, on the computer's clock.
constexpr std::int64_t kExampleNs = (726062387 + kGpsEpochDays * 86400) * std::int64_t{1000000000};

struct CountingSaver final : SettingsSaver {
  void SaveSettings() override {
    ++saves;
    timeTypeAtSave = cycle->ActiveTimeType();
    intervalAtSave = cycle->UpdateInterval();
    portAtSave = cycle->ActivePort().number;
  }
  UpdateCycle* cycle = nullptr;
  int saves = 0;
  TimeType timeTypeAtSave = TimeType::Utc;
  std::uint32_t intervalAtSave = 0;
  int portAtSave = 0;
};

class UpdateCycleTest : public ::testing::Test {
 protected:
  UpdateCycleTest() {
    saver.cycle = &cycle;
    cycle.SetSettingsSaver(&saver);
    rig.linkClock.now = ClockReading{kExampleNs, 5'000'000'000};  // right, to the receiver
  }
  // Polls with the receiver answering each: a correction of more than a second takes two.
  void PollsAnswered(int polls) {
    for (int poll = 0; poll < polls; ++poll) {
      ReceiverAnswers();
      cycle.Timer_DAROTimer();
    }
  }

  // The receiver answers every request with 0x41 for 2003-01-08 12:00:00 GPS, offset 13 s.
  void ReceiverAnswers() { port.incoming = Frame(0x41, kExample41); }
  void Interval(const char* text) { front.choices.intervalMs = IntervalMilliseconds(text); }

  RecordingPort port;
  CycleRig rig{port};
  RecordingFront& front = rig.front;
  UpdateCycle& cycle = rig.cycle;
  TimerState& timerUpdate = rig.timerUpdate;
  TimerState& timerPoll = rig.timerPoll;
  DryRunClockSetter& clock = rig.clock;
  ReceiverLink& link = rig.link;
  CountingSaver saver;
};

TEST(IntervalText, ReadAsDaysHoursAndMinutes) {
  EXPECT_EQ(IntervalMilliseconds("00 06:00"), 21600000);
  EXPECT_EQ(IntervalMilliseconds("00 00:01"), 60000);
  EXPECT_EQ(IntervalMilliseconds("00 30:90"), 113400000);
  EXPECT_EQ(IntervalMilliseconds("99 99:99"), 8915940000);
  EXPECT_EQ(IntervalMilliseconds("00 00:00"), 0);
  // Exactly two decimal digits in each field, and nothing else: signs, blanks, a third digit,
  // a missing field or separator are all refused.
  for (const char* text : {"00 -1:90", "01 -5:00", "+1 00:00", "-0 00:01", "0 06:00", "00 6:00",
                           "00 06:0", "000 06:00", "00 006:00", "00 06:000", " 1 06:00",
                           "00  6:00", "00 06: 1", "__ 06:00", "01", "01 02:", "", "00-06:00",
                           "00 06 00", "00:06:00", "00 06:00 ", " 00 06:00", "0x 06:00",
                           "99999999999999999999 00:00"}) {
    EXPECT_EQ(IntervalMilliseconds(text), -1) << '"' << text << '"';
  }
}

TEST(IntervalText, ShownAsTwoDigitFields) {
  char text[kIntervalTextSize];
  FormatIntervalText(90061, text);
  EXPECT_STREQ(text, "01 01:01");
  FormatIntervalText(113400, text);
  EXPECT_STREQ(text, "01 07:30");
  FormatIntervalText(0, text);
  EXPECT_STREQ(text, "00 00:00");
  FormatIntervalText(4294967, text);
  EXPECT_STREQ(text, "49 17:02");
}

TEST_F(UpdateCycleTest, APortThatDoesNotOpenFailsAtOnce) {
  port.opens = false;
  cycle.RefreshTime();
  EXPECT_EQ(front.log, (std::vector<std::string>{"began", "ended Error - COM Failure 0/1"}));
  EXPECT_EQ(port.calls, std::vector<std::string>{"Open \\\\.\\COM1"});
  EXPECT_FALSE(timerPoll.enabled);
}

TEST_F(UpdateCycleTest, AnAttemptOpensPreparesAndPolls) {
  front.choices.port.number = 12;
  front.choices.line.baudRateIndex = 4;
  timerPoll.enabled = false;
  cycle.RefreshTime();
  EXPECT_EQ(port.calls, (std::vector<std::string>{"Open \\\\.\\COM12", "Flush",
                                                  "SetLineParameters 38400 8 0 0", "QueuedBytes"}));
  EXPECT_EQ(rig.linkClock.paused, 2 * kLineSettlePause);
  EXPECT_TRUE(timerPoll.enabled);
  EXPECT_TRUE(cycle.Polling());
  EXPECT_EQ(cycle.AttemptCount(), 1);

  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  EXPECT_EQ(port.writes, std::vector<Bytes>{Bytes({0x10, 0x21, 0x10, 0x03})});
  // The time of week is shown before the clock is set and the attempt ends, in UTC as set.
  EXPECT_EQ(front.log, (std::vector<std::string>{"began", "time of week  Wed 11:59:47.00",
                                                 "ended Success 1/1"}));
  EXPECT_EQ(Iso(clock.last), "2003-01-08T11:59:47Z");
  ASSERT_EQ(front.results.size(), 1u);
  EXPECT_TRUE(front.results[0].clockAsked);
  EXPECT_EQ(Iso(front.results[0].clockTime), "2003-01-08T11:59:47Z");
  EXPECT_EQ(port.calls.back(), "Close");
  EXPECT_FALSE(cycle.Polling());
  EXPECT_FALSE(timerPoll.enabled);

  // Ticks after the outcome do nothing.
  port.calls.clear();
  cycle.Timer_DAROTimer();
  EXPECT_TRUE(port.calls.empty());
}

TEST_F(UpdateCycleTest, TheClockIsSetToTheTimeNamedAdvancedByTheTimeSinceAndTheLatency) {
  // The computer's clock reads 2003-01-08 11:59:47.000 UTC when the answer has been read; the
  // answer's 14 bytes took 14 x 1041666 ns at 9600 baud, so its first began 14.583 ms earlier.
  front.choices.latencyMs = 20;
  cycle.RefreshTime();
  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  ASSERT_EQ(front.results.size(), 1u);
  const AttemptResult& result = front.results[0];
  char set[kIsoTimeTextSize];
  FormatIsoTimeMs(result.clockTime, set);
  EXPECT_STREQ(set, "2003-01-08T11:59:47.034Z");  // 20 ms latency and 14.583 ms since
  EXPECT_NEAR(result.offsetSeconds, 0.034583, 1e-6);
  EXPECT_TRUE(result.packetTaken);
  EXPECT_EQ(result.packet, TimingPacket::Packet41);
  EXPECT_EQ(result.ended.systemNs, kExampleNs);
  EXPECT_EQ(PortDisplayName(result.port), "COM1");

  // Ahead: the same answer read with the computer's clock 1.5 s later, which a second answer
  // must confirm.
  rig.linkClock.now.systemNs += 1'500'000'000;
  cycle.RefreshTime();
  PollsAnswered(2);
  ASSERT_EQ(front.results.size(), 2u);
  EXPECT_NEAR(front.results[1].offsetSeconds, 0.034583 - 1.5, 1e-6);
}

TEST_F(UpdateCycleTest, BytesArrivingBetweenPollsAreReadAtOnceWithoutARequest) {
  cycle.RefreshTime();
  cycle.BytesArrived();  // nothing there: nothing happens
  EXPECT_TRUE(front.results.empty());
  ReceiverAnswers();
  cycle.BytesArrived();
  EXPECT_EQ(front.Status(), "Success");
  EXPECT_TRUE(port.writes.empty());
  cycle.BytesArrived();  // after the outcome: nothing is read
  EXPECT_EQ(port.calls.back(), "Close");
}

TEST_F(UpdateCycleTest, AnAnswerReadLateTimesNothingTheNextReadOnTimeDoes) {
  cycle.RefreshTime();
  cycle.Timer_DAROTimer();  // a request, and the port seen empty
  // Held up for a second: the answer may have come at any moment of it.
  rig.linkClock.now.monotonicNs += 1'000'000'000;
  ReceiverAnswers();
  cycle.BytesArrived();
  EXPECT_TRUE(front.results.empty());
  cycle.BytesArrived();  // seen empty again; the next answer read as its 14th byte arrives
  rig.linkClock.now.monotonicNs += 14 * 1041666;
  ReceiverAnswers();
  cycle.BytesArrived();
  EXPECT_EQ(front.Status(), "Success");
}

TEST_F(UpdateCycleTest, TimeTypeInForceComesFromTheChoicesAtRefresh) {
  front.choices.timeType = TimeType::Gps;
  cycle.RefreshTime();
  front.choices.timeType = TimeType::Utc;  // a change after Refresh Time counts from the next
  PollsAnswered(2);
  EXPECT_EQ(Iso(clock.last), "2003-01-08T12:00:00Z");
}

TEST_F(UpdateCycleTest, ASilentReceiverFailsOnThe30thPoll) {
  cycle.RefreshTime();
  for (int poll = 1; poll < 30; ++poll) {
    cycle.Timer_DAROTimer();
    ASSERT_TRUE(front.results.empty()) << "poll " << poll;
  }
  cycle.Timer_DAROTimer();
  EXPECT_EQ(front.Status(), "Error - DARO Failure");
  EXPECT_EQ(front.Counters(), "0/1");
  EXPECT_FALSE(front.results[0].clockAsked);
  EXPECT_EQ(port.writes.size(), 30u);
  EXPECT_EQ(rig.linkClock.paused, 2 * kLineSettlePause);
  EXPECT_FALSE(cycle.Polling());
  EXPECT_FALSE(timerPoll.enabled);
}

TEST_F(UpdateCycleTest, APacketOnThe30thPollReportsOnlyItsOwnOutcome) {
  cycle.RefreshTime();
  for (int poll = 1; poll < 30; ++poll) cycle.Timer_DAROTimer();
  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  ASSERT_EQ(front.results.size(), 1u);
  EXPECT_EQ(front.Status(), "Success");
}

TEST_F(UpdateCycleTest, TheFirstTimingPacketOfAnAttemptIsUsedTheOthersIgnored) {
  cycle.RefreshTime();
  Bytes noOffset = kExample41;
  std::fill(noOffset.begin() + 6, noOffset.end(), std::uint8_t{0});
  port.incoming = Frame(0x41, kExample41);
  const Bytes second = Frame(0x41, noOffset);
  port.incoming.insert(port.incoming.end(), second.begin(), second.end());
  cycle.Timer_DAROTimer();
  EXPECT_EQ(front.results.size(), 1u);
  EXPECT_EQ(Iso(clock.last), "2003-01-08T11:59:47Z");
}

// 0x8F-AB for GPS week 1200, with the time of week, GPS-UTC offset and timing flags given.
Bytes Packet8FAB(std::uint32_t tow, int offset, std::uint8_t flags) {
  return Frame(0x8F, WritePacket8FAB({static_cast<float>(tow), 1200, static_cast<float>(offset),
                                      flags}, {}));
}

TEST_F(UpdateCycleTest, TheReceiversWordOnItsTimeIsHeard) {
  const char* const kNotSet = "receiver: its time is not yet set";
  const char* const kNoOffset = "receiver: it does not yet know the GPS-UTC offset";
  constexpr TimeType utc = TimeType::Utc, gps = TimeType::Gps;
  const struct {
    Bytes packet;
    TimeType type;
    const char* reason;  // empty: Success
  } cases[] = {
      {Packet8FAB(302400, 13, 0x00), utc, ""},
      {Packet8FAB(302400, 13, 0x03), utc, ""},  // a calendar and pulse in UTC: all good
      {Packet8FAB(302400, 13, 0x04), utc, kNotSet},
      {Packet8FAB(302400, 13, 0x1C), gps, kNotSet},
      {Packet8FAB(302400, 13, 0x10), gps,
       "receiver: its time was entered by hand, not taken from GPS"},
      {Packet8FAB(302400, 13, 0x08), utc, kNoOffset},
      {Packet8FAB(302400, 0, 0x00), utc, kNoOffset},
      {Packet8FAB(302400, 0, 0x08), gps, ""},  // no offset is taken off GPS time
      // 0x41 without a time yet, time of week -1, in week 0, 2448 (2026) and 65535.
      {Frame(0x41, {0xBF, 0x80, 0, 0, 0, 0, 0, 0, 0, 0}), gps, kNotSet},
      {Frame(0x41, {0xBF, 0x80, 0, 0, 0x09, 0x90, 0x41, 0x90, 0, 0}), utc, kNotSet},
      {Frame(0x41, {0xBF, 0x80, 0, 0, 0xFF, 0xFF, 0x41, 0x90, 0, 0}), utc, kNotSet},
  };
  for (const auto& c : cases) {
    front.choices.timeType = c.type;
    const int calls = clock.calls;
    cycle.RefreshTime();
    // GPS time is 13 s from this clock: a second packet confirms it.
    for (int poll = 0; poll < 2 && cycle.Polling(); ++poll) {
      port.incoming = c.packet;
      cycle.Timer_DAROTimer();
    }
    const bool success = *c.reason == '\0';
    EXPECT_EQ(front.Status(), success ? "Success" : "Error - Bad Time") << c.reason;
    EXPECT_EQ(ReasonText(front.results.back()), c.reason);
    EXPECT_EQ(clock.calls - calls, success ? 1 : 0) << c.reason;
  }
  EXPECT_EQ(front.timeOfWeek, "<No time yet>");
}

TEST_F(UpdateCycleTest, ALargeCorrectionNeedsASecondPacketAndStaysWithinTheLimit) {
  // The clock 5 s behind the moment the packet's 21 bytes began to arrive, to the nanosecond.
  rig.linkClock.now.systemNs = kExampleNs - 5'000'000'000 + 21 * 1041666;
  const struct {
    int limit;
    std::vector<std::uint32_t> answers;  // times of week, one a poll, then again from the first
    std::size_t polls;
    const char* reason;  // empty: Success
  } cases[] = {
      {0, {302400}, 2, ""},  // two that agree
      {6, {302400}, 2, ""},
      {5, {302400}, 2, ""},  // at the limit
      {4, {302400}, 1, "correction of 5.000 s is larger than the limit of 4 s"},
      {0, {302403, 302400, 302400}, 3, ""},  // a wrong word, then two right ones
      {0, {302396}, 2, ""},          // a correction of a second, confirmed
      {0, {302396, 302395}, 2, ""},  // a second off, not taken: the next, right to 0 s, is
      {0, {302400, 302403}, 30,
       "correction of 8.000 s was not confirmed by a second timing packet"},
  };
  for (const auto& c : cases) {
    front.choices.maxCorrectionSeconds = c.limit;
    const std::size_t writes = port.writes.size();
    cycle.RefreshTime();
    for (std::size_t poll = 0; cycle.Polling(); ++poll) {
      port.incoming = Packet8FAB(c.answers[poll % c.answers.size()], 13, 0);
      cycle.Timer_DAROTimer();
    }
    EXPECT_EQ(front.Status(), *c.reason == '\0' ? "Success" : "Error - Bad Time") << c.limit;
    EXPECT_EQ(port.writes.size() - writes, c.polls) << c.limit;
    EXPECT_EQ(ReasonText(front.results.back()), c.reason) << c.limit;
  }
  EXPECT_EQ(clock.calls, 6);
}

TEST_F(UpdateCycleTest, OtherPacketsDoNotExtendTheAttempt) {
  cycle.RefreshTime();
  for (int poll = 1; poll <= 30; ++poll) {
    port.incoming = Frame(0x6D, Bytes(17, 1));
    cycle.Timer_DAROTimer();
  }
  EXPECT_EQ(front.Status(), "Error - DARO Failure");
}

TEST_F(UpdateCycleTest, AWeekRolloverIsCorrectedBeforeTheClockIsSet) {
  cycle.SetEarliestReceiverTime(kReleaseReceiverTime);
  cycle.RefreshTime();
  PollsAnswered(2);  // week 1200: 2003, 2048 weeks before 2042
  EXPECT_EQ(Iso(clock.last), "2042-04-09T11:59:47Z");
  EXPECT_EQ(front.results.back().rolloverWeeks, 2048);
  EXPECT_EQ(front.timeOfWeek, " Wed 11:59:47.00");  // the time of the week as received
}

TEST_F(UpdateCycleTest, StartWithAZeroIntervalChangesNothing) {
  Interval("00 00:00");
  cycle.StartUpdates();
  EXPECT_EQ(front.log, std::vector<std::string>{"refused: Interval must be greater than zero."});
  EXPECT_EQ(saver.saves, 0);
  EXPECT_FALSE(timerUpdate.enabled);
  EXPECT_TRUE(port.calls.empty());
  // A text that is not "dd hh:mm" gives no period either.
  front.choices.intervalMs = -1;
  cycle.StartUpdates();
  EXPECT_EQ(front.log.back(), "refused: Interval must be greater than zero.");
  EXPECT_FALSE(cycle.Started());
}

TEST_F(UpdateCycleTest, StartWithAnIntervalBeyondTheTimerIsRefusedToo) {
  Interval("49 17:03");
  front.choices.port.number = 4;
  cycle.StartUpdates();
  EXPECT_EQ(front.log.back(), std::string("refused: ") + kLongIntervalMessage);
  EXPECT_EQ(cycle.ActivePort().number, 1) << "a refused Start changes nothing";
  EXPECT_EQ(saver.saves, 0);
  EXPECT_FALSE(timerUpdate.enabled);
  EXPECT_EQ(timerUpdate.interval, kDefaultUpdateIntervalMs);

  Interval("49 17:02");
  cycle.StartUpdates();
  EXPECT_TRUE(timerUpdate.enabled);
  EXPECT_EQ(timerUpdate.interval, 4294920000u);
}

TEST_F(UpdateCycleTest, StartSetsThePeriodSavesAndBeginsAnAttempt) {
  Interval("00 30:90");
  front.choices.port.number = 3;
  front.choices.timeType = TimeType::Gps;
  cycle.StartUpdates();
  EXPECT_EQ(timerUpdate.interval, 113400000u);
  EXPECT_TRUE(timerUpdate.enabled);
  EXPECT_EQ(saver.saves, 1);
  EXPECT_EQ(saver.timeTypeAtSave, TimeType::Gps);
  EXPECT_EQ(saver.intervalAtSave, 113400000u);
  EXPECT_EQ(saver.portAtSave, 3);
  EXPECT_EQ(cycle.ActivePort().number, 3);
  EXPECT_EQ(port.calls.front(), "Open \\\\.\\COM3");
  EXPECT_EQ(front.log, (std::vector<std::string>{"started", "began"}));
  EXPECT_TRUE(front.started);
}

TEST_F(UpdateCycleTest, StopDuringAnAttemptLetsItFinish) {
  Interval("00 00:01");
  cycle.StartUpdates();
  cycle.StopUpdates();
  EXPECT_EQ(front.log, (std::vector<std::string>{"started", "began", "stopped"}));
  EXPECT_FALSE(timerUpdate.enabled);
  EXPECT_TRUE(timerPoll.enabled);
  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  EXPECT_EQ(front.Status(), "Success");
  EXPECT_EQ(front.Counters(), "1/1");
}

TEST_F(UpdateCycleTest, AnAttemptOutlivingAStopCountsAsTheFirstOfTheNextStart) {
  Interval("00 00:01");
  for (const bool succeeds : {true, false}) {
    cycle.StartUpdates();
    cycle.StopUpdates();
    cycle.StartUpdates();  // the first attempt still polls
    EXPECT_EQ(cycle.AttemptCount(), 1);
    if (succeeds) ReceiverAnswers();
    for (int poll = 0; poll < kPollsPerAttempt && cycle.Polling(); ++poll) {
      cycle.Timer_DAROTimer();
    }
    EXPECT_EQ(front.Counters(), succeeds ? "1/1" : "0/1");
    cycle.StopUpdates();
    port.incoming.clear();
  }
}

TEST_F(UpdateCycleTest, RefreshWhileStoppedAddsToTheCountersOfTheLastStart) {
  Interval("00 00:01");
  port.opens = false;
  cycle.StartUpdates();
  cycle.StopUpdates();
  EXPECT_EQ(front.Counters(), "0/1");
  port.opens = true;
  front.choices.port.number = 7;  // not saved, used at once
  cycle.RefreshTime();
  EXPECT_EQ(port.calls[port.calls.size() - 2], "SetLineParameters 9600 8 0 0");
  EXPECT_EQ(port.calls[port.calls.size() - 4], "Open \\\\.\\COM7");
  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  EXPECT_EQ(front.Counters(), "1/2");
  EXPECT_FALSE(front.started);
  EXPECT_EQ(saver.saves, 1);
}

TEST_F(UpdateCycleTest, TheCountersRestartWhenThe10000thAttemptEnds) {
  port.opens = false;
  for (int i = 0; i < kMostAttemptsCounted; ++i) cycle.RefreshTime();
  EXPECT_EQ(front.Counters(), "0/9999");
  port.opens = true;
  cycle.RefreshTime();
  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  EXPECT_EQ(front.Counters(), "1/1");
}

TEST_F(UpdateCycleTest, AnAttemptIsNotBegunWhileAnotherPolls) {
  cycle.RefreshTime();
  const auto calls = port.calls;
  const auto log = front.log;
  cycle.RefreshTime();
  cycle.Timer_UpdateTimer();
  EXPECT_EQ(port.calls, calls);
  EXPECT_EQ(front.log, log);
  EXPECT_EQ(cycle.AttemptCount(), 1);
  EXPECT_TRUE(cycle.Polling());
  ReceiverAnswers();
  cycle.Timer_DAROTimer();  // the attempt in progress goes on to its outcome
  EXPECT_EQ(front.Counters(), "1/1");
}

TEST_F(UpdateCycleTest, IntervalTicksBeginAttempts) {
  Interval("00 00:01");
  port.opens = false;
  cycle.StartUpdates();
  cycle.Timer_UpdateTimer();
  cycle.Timer_UpdateTimer();
  EXPECT_EQ(front.Counters(), "0/3");
}

TEST_F(UpdateCycleTest, TheDisciplineHoldsSmallOffsetsByRateStepsLargeOnesAndHandsTheRateBack) {
  Interval("00 00:01");
  front.choices.discipline = true;
  const auto update = [&](std::int64_t behindNs) {
    rig.linkClock.now.systemNs = kExampleNs - behindNs;
    if (!cycle.Polling()) cycle.Timer_UpdateTimer();
    ReceiverAnswers();
    cycle.Timer_DAROTimer();
    return front.results.back();
  };
  const struct {
    const char* what;
    std::int64_t behindNs;
    bool keepsRate, stepped, disciplined;
    const char* note;
    int sets, rates;  // the clock's counts after it
  } updates[] = {
      {"a small offset: the rate alone", 1000000, true, false, true, "", 0, 1},
      {"over 0.128 s: stepped, then the rate", 200000000, true, true, true, "", 1, 2},
      {"the rate not kept: stepped as before", 1000000, false, true, false, kRateNotKeptText, 2, 3},
      {"and from then on", 1000000, true, true, false, "", 3, 3},
  };
  cycle.StartUpdates();
  for (const auto& u : updates) {
    clock.keepsRate = u.keepsRate;
    const AttemptResult r = update(u.behindNs);
    EXPECT_EQ(r.outcome, UpdateOutcome::Success) << u.what;
    EXPECT_EQ(std::tie(r.stepped, r.disciplined, clock.calls, clock.rateCalls),
              std::make_tuple(u.stepped, u.disciplined, u.sets, u.rates)) << u.what;
    EXPECT_STREQ(r.disciplineNote, u.note) << u.what;
  }
  EXPECT_TRUE(clock.released);
  // A new start holds the clock again; Stop hands its rate back.
  clock.released = false;
  cycle.StartUpdates();
  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  EXPECT_TRUE(front.results.back().disciplined);
  cycle.StopUpdates();
  EXPECT_TRUE(clock.released);
}

TEST_F(UpdateCycleTest, AbandoningClosesThePortWithoutAnOutcome) {
  cycle.RefreshTime();
  cycle.Abandon();
  EXPECT_FALSE(cycle.Polling());
  EXPECT_EQ(port.calls.back(), "Close");
  EXPECT_TRUE(front.results.empty());
}

}  // namespace
}  // namespace clockagent::test
