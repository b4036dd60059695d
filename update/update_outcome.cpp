// Status texts and icon states of the update outcomes.
#include "update/update_outcome.h"

namespace clockagent {

const char* StatusText(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::Success: return "Success";
    case UpdateOutcome::ComFailure: return "Error - COM Failure";
    case UpdateOutcome::DaroFailure: return "Error - DARO Failure";
    case UpdateOutcome::SystemUpdateFailure: return "Error - System Update";
    case UpdateOutcome::BadTime: return "Error - Bad Time";
  }
  return "";
}

TrayIconState IconStateAfter(UpdateOutcome outcome) {
  return outcome == UpdateOutcome::Success ? TrayIconState::SleepingOk
                                           : TrayIconState::SleepingFailed;
}

}  // namespace clockagent
