// The machine's clocks, and the one place where the link sleeps.
#include "receiver/link_clock.h"

#include <thread>

namespace clockagent {
namespace {

class SystemClocks final : public LinkClock {
 public:
  ClockReading Now() override {
    using std::chrono::duration_cast;
    using std::chrono::nanoseconds;
    ClockReading now;
    now.systemNs =
        duration_cast<nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    now.monotonicNs =
        duration_cast<nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return now;
  }
  void Pause(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

}  // namespace

LinkClock& SystemLinkClock() {
  static SystemClocks clocks;
  return clocks;
}

}  // namespace clockagent
