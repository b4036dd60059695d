// The update cycle tick by tick, with a port in memory, timers as state and a logging view.
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/test_support.h"
#include "update/interval_text.h"
#include "update/update_cycle.h"

namespace clockagent::test {
namespace {

const Bytes kExample41 = {0x48, 0x93, 0xA8, 0x00, 0x04, 0xB0, 0x41, 0x50, 0x00, 0x00};

struct CountingSaver final : SettingsSaver {
  void SaveSettings() override {
    ++saves;
    timeTypeAtSave = cycle->timing.ActiveTimeType;
    intervalAtSave = cycle->Timer_Update.Interval();
  }
  UpdateCycle* cycle = nullptr;
  int saves = 0;
  TimeType timeTypeAtSave = TimeType::Utc;
  std::uint32_t intervalAtSave = 0;
};

class UpdateCycleTest : public ::testing::Test, protected CycleRig {
 protected:
  UpdateCycleTest() {
    link->port = &port;
    saver.cycle = &cycle;
    cycle.SetSettingsSaver(&saver);
  }

  std::string Caption(Panel panel) const { return view.Caption(panel); }

  // The receiver answers every request with the worked example.
  void ReceiverAnswers() { port.incoming = Frame(0x41, kExample41); }

  RecordingPort port;
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
  EXPECT_EQ(view.log, (std::vector<std::string>{
                          "remove icons", "add icon InProgress", "Panel_Status=Error - COM Failure",
                          "Panel_TotalUpdates=0/1", "remove icons", "add icon SleepingFailed"}));
  EXPECT_EQ(port.calls, std::vector<std::string>{"Open \\\\.\\COM1"});
  EXPECT_FALSE(timerDaro.enabled);
}

TEST_F(UpdateCycleTest, AnAttemptOpensPreparesAndPolls) {
  view.index[static_cast<int>(Control::ComboBox_COM)] = 11;
  view.index[static_cast<int>(Control::ComboBox_BaudRate)] = 4;
  timerDaro.enabled = false;
  cycle.RefreshTime();
  EXPECT_EQ(port.calls, (std::vector<std::string>{"Open \\\\.\\COM12", "Flush",
                                                  "SetLineParameters 38400 8 0 0"}));
  EXPECT_TRUE(timerDaro.enabled);
  EXPECT_EQ(cycle.timing.TimeReceived, 0);
  EXPECT_EQ(cycle.PollCountdown, kPollsPerAttempt);
  EXPECT_EQ(cycle.AttemptCount, 1);

  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  EXPECT_EQ(port.writes, std::vector<Bytes>{Bytes({0x10, 0x21, 0x10, 0x03})});
  EXPECT_EQ(Caption(Panel::Panel_Status), "Success");
  EXPECT_EQ(Caption(Panel::Panel_TotalUpdates), "1/1");
  EXPECT_EQ(Caption(Panel::Panel_Time), " Wed 12:00:00.00");
  EXPECT_EQ(Iso(clock.last), "2003-01-08T11:59:47Z");
  EXPECT_EQ(view.tray, TrayIconState::SleepingOk);
  EXPECT_EQ(port.calls.back(), "Close");
  EXPECT_EQ(link->isOpen, 0);
  EXPECT_FALSE(timerDaro.enabled);

  // Ticks after the outcome do nothing.
  port.calls.clear();
  cycle.Timer_DAROTimer();
  EXPECT_TRUE(port.calls.empty());
}

TEST_F(UpdateCycleTest, TimeTypeInForceComesFromTheWindowAtRefresh) {
  view.index[static_cast<int>(Control::RadioGroup_TimeType)] = 1;
  cycle.RefreshTime();
  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  EXPECT_EQ(Iso(clock.last), "2003-01-08T12:00:00Z");
}

TEST_F(UpdateCycleTest, ASilentReceiverFailsOnThe30thPoll) {
  cycle.RefreshTime();
  for (int poll = 1; poll < 30; ++poll) {
    cycle.Timer_DAROTimer();
    ASSERT_EQ(Caption(Panel::Panel_Status), "") << "poll " << poll;
  }
  cycle.Timer_DAROTimer();
  EXPECT_EQ(Caption(Panel::Panel_Status), "Error - DARO Failure");
  EXPECT_EQ(Caption(Panel::Panel_TotalUpdates), "0/1");
  EXPECT_EQ(view.tray, TrayIconState::SleepingFailed);
  EXPECT_EQ(port.writes.size(), 30u);
  EXPECT_EQ(link->isOpen, 0);
  EXPECT_FALSE(timerDaro.enabled);
}

TEST_F(UpdateCycleTest, APacketOnThe30thPollReportsOnlyItsOwnOutcome) {
  cycle.RefreshTime();
  for (int poll = 1; poll < 30; ++poll) cycle.Timer_DAROTimer();
  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  EXPECT_EQ(Caption(Panel::Panel_Status), "Success");
  const auto outcomes = std::count_if(view.log.begin(), view.log.end(), [](const std::string& l) {
    return l.rfind("Panel_Status=", 0) == 0;
  });
  EXPECT_EQ(outcomes, 1);
}

TEST_F(UpdateCycleTest, OtherPacketsDoNotExtendTheAttempt) {
  cycle.RefreshTime();
  for (int poll = 1; poll <= 30; ++poll) {
    port.incoming = Frame(0x6D, Bytes(17, 1));
    cycle.Timer_DAROTimer();
  }
  EXPECT_EQ(Caption(Panel::Panel_Status), "Error - DARO Failure");
}

TEST_F(UpdateCycleTest, ReceiverWithoutTimeIsABadTimeInEveryWeek) {
  // Time of week -1 with week 0, 2448 (2026) and 65535; offset 0 and 18.
  for (const Bytes& data : {Bytes{0xBF, 0x80, 0, 0, 0, 0, 0, 0, 0, 0},
                           Bytes{0xBF, 0x80, 0, 0, 0x09, 0x90, 0x41, 0x90, 0, 0},
                           Bytes{0xBF, 0x80, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0}}) {
    cycle.RefreshTime();
    port.incoming = Frame(0x41, data);
    cycle.Timer_DAROTimer();
    EXPECT_EQ(Caption(Panel::Panel_Status), "Error - Bad Time");
    EXPECT_EQ(Caption(Panel::Panel_Time), "<No time yet>");
  }
  EXPECT_EQ(clock.calls, 0);
}

TEST_F(UpdateCycleTest, AWeekRolloverIsCorrectedBeforeTheClockIsSet) {
  cycle.timing.earliestTime = kReleaseReceiverTime;
  cycle.RefreshTime();
  ReceiverAnswers();  // week 1200: 2003, 2048 weeks before 2042
  cycle.Timer_DAROTimer();
  EXPECT_EQ(Iso(clock.last), "2042-04-09T11:59:47Z");
  EXPECT_EQ(cycle.timing.rolloverWeeks, 2048);
  EXPECT_EQ(Caption(Panel::Panel_Time), " Wed 12:00:00.00");  // the time of week as received
}

TEST_F(UpdateCycleTest, StartWithAZeroIntervalChangesNothing) {
  view.interval = "00 00:00";
  cycle.StartUpdates();
  EXPECT_EQ(view.log, std::vector<std::string>{
                          "message Error 48: Interval must be greater than zero."});
  EXPECT_EQ(saver.saves, 0);
  EXPECT_FALSE(timerUpdate.enabled);
  EXPECT_TRUE(port.calls.empty());
  EXPECT_EQ(Caption(Panel::Panel_OnOff), "Off");
}

TEST_F(UpdateCycleTest, StartWithAnIntervalBeyondTheTimerIsRefusedToo) {
  view.interval = "49 17:03";
  cycle.StartUpdates();
  EXPECT_EQ(view.message, kLongIntervalMessage);
  EXPECT_EQ(saver.saves, 0);
  EXPECT_FALSE(timerUpdate.enabled);
  EXPECT_EQ(timerUpdate.interval, kDefaultUpdateIntervalMs);

  view.interval = "49 17:02";
  cycle.StartUpdates();
  EXPECT_TRUE(timerUpdate.enabled);
  EXPECT_EQ(timerUpdate.interval, 4294920000u);
}

TEST_F(UpdateCycleTest, StartSetsThePeriodSavesAndBeginsAnAttempt) {
  view.interval = "00 30:90";
  view.index[static_cast<int>(Control::ComboBox_COM)] = 2;
  view.index[static_cast<int>(Control::RadioGroup_TimeType)] = 1;
  cycle.StartUpdates();
  EXPECT_EQ(timerUpdate.interval, 113400000u);
  EXPECT_TRUE(timerUpdate.enabled);
  EXPECT_EQ(saver.saves, 1);
  EXPECT_EQ(saver.timeTypeAtSave, TimeType::Gps);
  EXPECT_EQ(saver.intervalAtSave, 113400000u);
  EXPECT_EQ(cycle.ActivePortNumber, 3);
  EXPECT_EQ(port.calls.front(), "Open \\\\.\\COM3");
  EXPECT_EQ(view.log, (std::vector<std::string>{
                          "enable SpeedButton_Stop", "enable Control_Stop",
                          "disable SpeedButton_Start", "disable Control_Start",
                          "disable Panel_Setup", "disable ComboBox_COM",
                          "disable ComboBox_BaudRate", "disable ComboBox_DataBits",
                          "disable ComboBox_Parity", "disable ComboBox_StopBits",
                          "disable MaskEdit_Interval", "disable RadioGroup_TimeType",
                          "disable RadioGroup_AutoStart", "Panel_OnOff=On", "remove icons",
                          "add icon InProgress"}));
  // The counters start again, but the panel keeps its text until the next outcome.
  EXPECT_EQ(Caption(Panel::Panel_TotalUpdates), "0/0");
}

TEST_F(UpdateCycleTest, StopDuringAnAttemptLetsItFinish) {
  view.interval = "00 00:01";
  cycle.StartUpdates();
  view.log.clear();
  cycle.StopUpdates();
  EXPECT_EQ(view.log, (std::vector<std::string>{
                          "disable SpeedButton_Stop", "disable Control_Stop",
                          "enable SpeedButton_Start", "enable Control_Start",
                          "enable Panel_Setup", "enable ComboBox_COM", "enable ComboBox_BaudRate",
                          "enable ComboBox_DataBits", "enable ComboBox_Parity",
                          "enable ComboBox_StopBits", "enable MaskEdit_Interval",
                          "enable RadioGroup_TimeType", "enable RadioGroup_AutoStart",
                          "Panel_OnOff=Off"}));
  EXPECT_FALSE(timerUpdate.enabled);
  EXPECT_TRUE(timerDaro.enabled);
  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  EXPECT_EQ(Caption(Panel::Panel_Status), "Success");
  EXPECT_EQ(Caption(Panel::Panel_TotalUpdates), "1/1");
  EXPECT_EQ(view.tray, TrayIconState::SleepingOk);
}

TEST_F(UpdateCycleTest, AnAttemptOutlivingAStopCountsAsTheFirstOfTheNextStart) {
  view.interval = "00 00:01";
  for (const bool succeeds : {true, false}) {
    cycle.StartUpdates();
    cycle.StopUpdates();
    cycle.StartUpdates();  // the first attempt still polls
    EXPECT_EQ(cycle.AttemptCount, 1);
    if (succeeds) ReceiverAnswers();
    for (int poll = 0; poll < kPollsPerAttempt && link->isOpen; ++poll) cycle.Timer_DAROTimer();
    EXPECT_EQ(Caption(Panel::Panel_TotalUpdates), succeeds ? "1/1" : "0/1");
    cycle.StopUpdates();
    port.incoming.clear();
  }
}

TEST_F(UpdateCycleTest, RefreshWhileStoppedAddsToTheCountersOfTheLastStart) {
  view.interval = "00 00:01";
  port.opens = false;
  cycle.StartUpdates();
  cycle.StopUpdates();
  EXPECT_EQ(Caption(Panel::Panel_TotalUpdates), "0/1");
  port.opens = true;
  view.index[static_cast<int>(Control::ComboBox_COM)] = 6;  // not saved, used at once
  cycle.RefreshTime();
  EXPECT_EQ(port.calls.back(), "SetLineParameters 9600 8 0 0");
  EXPECT_EQ(port.calls[port.calls.size() - 3], "Open \\\\.\\COM7");
  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  EXPECT_EQ(Caption(Panel::Panel_TotalUpdates), "1/2");
  EXPECT_EQ(Caption(Panel::Panel_OnOff), "Off");
  EXPECT_EQ(saver.saves, 1);
}

TEST_F(UpdateCycleTest, TheCountersRestartWhenThe10000thAttemptEnds) {
  cycle.AttemptCount = 9999;
  cycle.SuccessCount = 9000;
  cycle.RefreshTime();
  ReceiverAnswers();
  cycle.Timer_DAROTimer();
  EXPECT_EQ(Caption(Panel::Panel_TotalUpdates), "1/1");

  cycle.AttemptCount = 9999;
  port.opens = false;
  cycle.RefreshTime();
  EXPECT_EQ(Caption(Panel::Panel_TotalUpdates), "0/1");
}

TEST_F(UpdateCycleTest, AnAttemptIsNotBegunWhileAnotherPolls) {
  cycle.RefreshTime();
  const auto calls = port.calls;
  const auto log = view.log;
  cycle.RefreshTime();
  cycle.Timer_UpdateTimer();
  EXPECT_EQ(port.calls, calls);
  EXPECT_EQ(view.log, log);
  EXPECT_EQ(cycle.AttemptCount, 1);
  EXPECT_EQ(link->isOpen, 1);
  ReceiverAnswers();
  cycle.Timer_DAROTimer();  // the attempt in progress goes on to its outcome
  EXPECT_EQ(Caption(Panel::Panel_TotalUpdates), "1/1");
}

TEST_F(UpdateCycleTest, IntervalTicksBeginAttempts) {
  view.interval = "00 00:01";
  port.opens = false;
  cycle.StartUpdates();
  cycle.Timer_UpdateTimer();
  cycle.Timer_UpdateTimer();
  EXPECT_EQ(Caption(Panel::Panel_TotalUpdates), "0/3");
}

}  // namespace
}  // namespace clockagent::test
