// Ten thousand attempts through the update cycle on real pseudo-terminals, with every kind of
// outcome: nothing leaks (descriptors, heap), and the counters wrap after the 9999th attempt.
// The poll timer is stood in for by calling its tick as soon as bytes arrive; the link's pauses
// take no time, and its clocks stand at the machine's time each attempt began, which the
// simulated receivers' time follows.
#include <gtest/gtest.h>

#include <dirent.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "receiver/system_serial_port.h"
#include "tests/support/cli_support.h"
#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

// A front end that keeps only the last outcome, so that it holds no more memory after ten
// thousand attempts than after one; the port numbers stand for paths.
class SoakFront final : public CycleFrontEnd {
 public:
  CycleChoices Choices() override { return choices; }
  void AttemptBegan() override {}
  void TimeOfWeekReceived(const TimingFields&, TimeType) override {}
  void AttemptEnded(const AttemptResult& result) override {
    status = StatusText(result.outcome);
    std::snprintf(counters, sizeof counters, "%d/%d", static_cast<int>(result.successes),
                  static_cast<int>(result.attempts));
  }
  void ScheduleChanged(bool) override {}
  void Refused(const char*) override {}

  CycleChoices choices;
  const char* status = "";
  char counters[32] = "";
};

int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int n = 0;
  while (readdir(dir) != nullptr) ++n;
  closedir(dir);
  return n;  // the directory's own descriptor, "." and ".." included, the same every time
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

class Soak : public ::testing::Test {
 protected:
  Soak() {
    front.choices.intervalMs = 60000;                            // "00 00:01"
    front.choices.line.baudRateIndex = kFast;
  }

  void Receiver(int number, std::vector<std::string> args) {
    const std::string path = dir.path() + "/receiver" + std::to_string(number);
    args.insert(args.end(), {"--baud", std::to_string(kBaudRates[kFast])});
    receivers.push_back(std::make_unique<SimulatedReceiver>(path, std::move(args)));
    ASSERT_TRUE(receivers.back()->ready());
    paths[number] = path;
  }

  // Runs the attempt begun by Start or Refresh Time to its outcome. The link does not pause: the
  // next poll comes as soon as bytes have begun to arrive, or after 20 ms without any.
  void PollToOutcome() {
    rig.linkClock.now = SystemLinkClock().Now();
    while (rig.timerPoll.enabled) {
      cycle.Timer_DAROTimer();
      for (int ms = 0; ms < 20 && rig.timerPoll.enabled && port->QueuedBytes() == 0; ++ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  }

  // One attempt by Refresh Time on port `number`.
  std::string Refresh(int number) {
    front.choices.port.device = paths[number];
    cycle.RefreshTime();
    PollToOutcome();
    return front.status;
  }

  static constexpr int kFast = 4;  // 38400 baud, so that an answer takes 4 ms on the line
  TempDir dir;
  std::vector<std::unique_ptr<SimulatedReceiver>> receivers;
  std::map<int, std::string> paths;
  std::unique_ptr<SerialPort> port = NewSystemSerialPort();
  CycleRigWith<SoakFront> rig{*port};
  SoakFront& front = rig.front;
  UpdateCycle& cycle = rig.cycle;
};

// The port and outcome of attempt n (from 1): a quarter each answered, answered with a bad time,
// missing and held by another program, with a silent receiver at every 500th of 1000.
struct Planned {
  int port;
  const char* status;
};
Planned Plan(int n) {
  if (n % 1000 == 500) return {5, "Error - DARO Failure"};
  switch (n % 4) {
    case 1: return {1, "Success"};
    case 2: return {2, "Error - Bad Time"};
    case 3: return {3, "Error - COM Failure"};
    default: return {4, "Error - COM Failure"};
  }
}

TEST_F(Soak, TenThousandAttempts) {
  Receiver(1, {});
  Receiver(2, {"--tow", "nan"});
  paths[3] = dir.path() + "/no-such-port";
  Receiver(4, {"--silent"});
  Receiver(5, {"--silent"});
  auto holder = NewSystemSerialPort();  // another program holding port 4
  ASSERT_TRUE(holder->Open(paths[4].c_str()));

  const int descriptors = OpenDescriptors();
  std::size_t heapAfterWarmUp = 0;
  int successes = 0;
  const auto began = std::chrono::steady_clock::now();

  front.choices.port.device = paths[1];
  cycle.StartUpdates();  // its first attempt goes to port 1 at once
  PollToOutcome();
  ASSERT_STREQ(front.status, "Success");
  ++successes;
  constexpr int kAttempts = 10001;
  for (int n = 2; n <= kAttempts; ++n) {
    const Planned plan = Plan(n);
    ASSERT_EQ(Refresh(plan.port), plan.status) << "attempt " << n;
    if (n <= 9999 && std::string(plan.status) == "Success") ++successes;
    ASSERT_FALSE(cycle.Polling()) << "attempt " << n;
    if (n % 1000 == 0) {
      ASSERT_EQ(OpenDescriptors(), descriptors) << "after attempt " << n;
      if (n == 1000) heapAfterWarmUp = HeapInUse();
      std::printf("after %5d attempts: %d descriptors, %zu bytes of heap in use\n", n,
                  OpenDescriptors(), HeapInUse());
    }
    if (n == 9999) {
      EXPECT_EQ(std::string(front.counters), std::to_string(successes) + "/9999");
    }
    if (n == 10000) {
      EXPECT_STREQ(front.counters, "0/1");  // wrapped
    }
  }
  EXPECT_STREQ(front.counters, "1/2");
  EXPECT_EQ(successes, 2500);
  cycle.StopUpdates();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  const std::size_t heap = HeapInUse();
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_LE(heap, heapAfterWarmUp) << "bytes of heap in use after 1000 attempts and at the end";
  holder->Close();
  std::printf("%d attempts in %.1f s; open descriptors %d before and after; heap in use %zu bytes "
              "after 1000 attempts, %zu at the end\n",
              kAttempts, took.count(), descriptors, heapAfterWarmUp, heap);
}

TEST_F(Soak, AReceiverThatHangsUpLeavesNothingOpen) {
  Receiver(1, {"--silent", "--hangup-after", "2"});
  const int descriptors = OpenDescriptors();
  EXPECT_EQ(Refresh(1), "Error - DARO Failure");
  EXPECT_FALSE(cycle.Polling());
  EXPECT_EQ(OpenDescriptors(), descriptors);
  // The receiver has gone for good: the next attempt cannot open the port.
  EXPECT_EQ(Refresh(1), "Error - COM Failure");
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

}  // namespace
}  // namespace clockagent::test
