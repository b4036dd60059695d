// The ClockAgent service itself: its entry point for the service manager, its control handler,
// and its loop.
#pragma once

namespace clockagent {

// Hands this process's main thread to the service manager, which runs the service on it until
// the service stops. False when the process was not started by the service manager.
bool RunAsService();

}  // namespace clockagent
