// The main window's following of the ClockAgent service: whether the service runs the updates, its
// state as last shown, and the window's requests to it, all through a ServiceAsker.
#pragma once

#include <windows.h>

#include <memory>

#include "service/service_state.h"
#include "ui/service_asker.h"

namespace clockagent::ui {

constexpr char kAdministratorNeeded[] =
    "The ClockAgent service runs the updates. Only an administrator may start or stop them or "
    "change their settings: open ClockAgent with \"Run as administrator\", or use "
    "\"clockagent service start\" or \"clockagent service stop\" in an administrator's console.";
constexpr char kAutoStartByService[] = "Auto Start: by the service";
constexpr char kNotTheServiceNotice[] =
    "Another program holds the ClockAgent service's pipe: it is not believed.";

// What the follower needs of the window that shows the service.
class ServiceView {
 public:
  // The service began running the updates, or stopped (or was never running): the window's own
  // schedule gives way to it, or comes back.
  virtual void ServiceModeChanged(bool serviceRuns) = 0;
  // The state of a running service; `shown` is the state shown before, null when none is.
  virtual void ShowServiceState(const ServiceState& state, const ServiceState* shown) = 0;
  // The first look at the service has been answered: Auto Start's turn, which is the window's only
  // without a running service.
  virtual void FirstLookAnswered() = 0;
  // The state after a Start the service was asked for has come.
  virtual void StateAfterStart() = 0;
  // A notice for the hint bar, and a message that needs the user's OK (MB_ICON* in `icon`).
  virtual void ServiceNotice(const char* notice) = 0;
  virtual void ServiceMessage(const char* text, UINT icon) = 0;
  // The service refused a Start, as the window's own cycle refuses one.
  virtual void ServiceRefused(const char* message) = 0;

 protected:
  ~ServiceView() = default;
};

class ServiceFollower {
 public:
  explicit ServiceFollower(ServiceView& view) : view_(view) {}

  // Begins asking, answers posted to `window` as `message` (for Replied); the first look at once.
  void Attach(HWND window, UINT message);
  // Ends the asking thread, before the window it posts to goes.
  void Detach() { asker_.reset(); }

  // Asks for the state, unless it is being asked already: every half second.
  void Look();
  // Start (with the window's choices), Stop or Refresh Time, for the service to do.
  void Ask(ServiceRequest request, const CycleChoices& choices = {});
  // An answer the asker posted.
  void Replied(LPARAM lParam);

  // Whether the service runs the updates, as last looked, and whether its schedule was on then.
  bool Runs() const { return runs_; }
  bool Started() const { return shown_.started; }

 private:
  void Follow(PipeAnswer answer, const ServiceState& state);

  ServiceView& view_;
  std::unique_ptr<ServiceAsker> asker_;
  bool runs_ = false;
  ServiceState shown_;
  bool shownValid_ = false;
  bool firstLookPending_ = false;
  bool afterStartPending_ = false;  // after a Start the service was asked for
};

}  // namespace clockagent::ui
