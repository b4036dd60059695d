// The outcome of one clock update attempt, with its status text and the tray icon it leaves.
#pragma once

namespace clockagent {

enum class UpdateOutcome : int {
  Success = 0,
  ComFailure = 1,
  DaroFailure = 2,
  SystemUpdateFailure = 3,
  BadTime = 4,
};

enum class TrayIconState : int {
  SleepingOk = 0,      // white
  InProgress = 1,      // blue
  SleepingFailed = 2,  // yellow
};

// "Success", "Error - COM Failure", ... as shown in the status panel.
const char* StatusText(UpdateOutcome outcome);

// The icon state after an attempt ends with `outcome`.
TrayIconState IconStateAfter(UpdateOutcome outcome);

}  // namespace clockagent
