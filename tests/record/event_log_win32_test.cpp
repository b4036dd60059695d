// The Event Log source and its messages, under wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "messages.h"
#include "record/event_log_win32.h"
#include "tests/support/wine.h"

namespace clockagent::test {
namespace {

// A message of a program's table with its inserts, as the Event Viewer shows it.
std::string Message(const std::string& program, DWORD id, std::initializer_list<const char*> inserts) {
  HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return "no module";
  DWORD_PTR args[3] = {};
  int n = 0;
  for (const char* insert : inserts) args[n++] = reinterpret_cast<DWORD_PTR>(insert);
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                      module, id, 0x409, text, sizeof text,
                                      reinterpret_cast<va_list*>(args));
  FreeLibrary(module);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message;
}

AttemptResult Ended(UpdateOutcome outcome, double offset = 0, Refusal refusal = Refusal::None,
                    const char* portError = "") {
  AttemptResult result;
  result.portError = portError;
  result.outcome = outcome;
  result.refusal = refusal;
  result.clockAsked = outcome == UpdateOutcome::Success;
  result.offsetSeconds = result.correctionSeconds = offset;
  return result;
}

TEST(EventLog, BothProgramsCarryTheMessages) {
  ASSERT_TRUE(UnderWine()) << "never run this on Windows itself: it registers an event source";
  for (const char* name : {"clockagent.com", "ClockAgent.exe"}) {
    const std::string program = BuildFile(name);
    EXPECT_EQ(Message(program, MSG_UPDATES_FAILING, {"COM3", "Error - DARO Failure", "X"}),
              "Clock updates from the GPS receiver on COM3 have begun to fail: "
              "Error - DARO Failure (at X).")
        << name;
    EXPECT_EQ(Message(program, MSG_UPDATES_SUCCEED, {"COM3", "X"}),
              "Clock updates from the GPS receiver on COM3 succeed again (at X).");
    EXPECT_EQ(Message(program, MSG_CLOCK_CORRECTED, {"COM3", "the clock was 2.500 s behind", "X"}),
              "The GPS receiver on COM3 corrected the clock by more than a second: the clock was "
              "2.500 s behind (at X).");
    EXPECT_EQ(Message(program, MSG_NOTE, {"Windows Time ..."}), "Windows Time ...");
    EXPECT_EQ(Message(program, MSG_TIME_REFUSED, {"COM3", "receiver: reason", "X"}),
              "The time from the GPS receiver on COM3 was refused: receiver: reason (at X).");
  }
}

TEST(EventLog, EventsComeWhenTheOutcomeTurnsAndWhenTheClockWasFarOff) {
  ASSERT_TRUE(UnderWine()) << "never run this on Windows itself: it registers an event source";
  ASSERT_TRUE(RegisterEventSourceFile(BuildFile("clockagent.com")));
  EXPECT_EQ(StoredSetting("EventMessageFile"), "missing");  // that is the program's own key
  char file[MAX_PATH] = {};
  DWORD size = sizeof file;
  ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, kEventSourceKey, "EventMessageFile",
                         RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, file, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(file), BuildFile("clockagent.com"));

  EventReporter events;
  const struct {
    AttemptResult result;
    int written;  // events written so far
  } steps[] = {
      {Ended(UpdateOutcome::Success, 0.004), 0},      // routine: nothing
      {Ended(UpdateOutcome::Success, -2.5), 1},       // more than a second off
      {Ended(UpdateOutcome::DaroFailure), 2},         // success to failure
      {Ended(UpdateOutcome::ComFailure), 2},          // failing still
      {Ended(UpdateOutcome::Success, 0.003), 3},      // failure to success
      {Ended(UpdateOutcome::Success, 0.002), 3},
      {Ended(UpdateOutcome::BadTime, 0, Refusal::TimeNotSet), 4},   // failure, with its reason
      {Ended(UpdateOutcome::BadTime, 0, Refusal::TimeNotSet), 4},   // the same again
      {Ended(UpdateOutcome::BadTime, 0, Refusal::NoUtcOffset), 5},  // a new reason
      {Ended(UpdateOutcome::ComFailure, 0, Refusal::None, "gone"), 5},  // not a time refused
      {Ended(UpdateOutcome::BadTime, 0, Refusal::OverLimit), 6},
      {Ended(UpdateOutcome::BadTime, 1, Refusal::OverLimit), 6},  // another value, the same kind
  };
  for (const auto& step : steps) {
    events.AttemptEnded(step.result);
    EXPECT_EQ(events.Written(), step.written);
  }
  UnregisterEventSourceFile();
}

}  // namespace
}  // namespace clockagent::test
