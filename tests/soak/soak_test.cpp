// Ten thousand attempts through the update cycle on real pseudo-terminals, with every kind of
// outcome: nothing leaks (descriptors, heap), and the counters wrap after the 9999th attempt.
// The poll timer is stood in for by calling its tick at once; the pauses of the link are real.
#include <gtest/gtest.h>

#include <dirent.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "receiver/system_serial_port.h"
#include "tests/support/cli_support.h"
#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

// The window in memory, its port numbers standing for paths.
class SoakView final : public ViewState {
 public:
  void PortName(int number, char (&name)[kPortNameSize]) const override {
    const auto path = paths.find(number);
    std::snprintf(name, sizeof name, "%s", path != paths.end() ? path->second.c_str() : "");
  }
  std::map<int, std::string> paths;
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

class Soak : public ::testing::Test, protected CycleRigWith<SoakView> {
 protected:
  Soak() { link->port = port.get(); }

  void Receiver(int number, std::vector<std::string> args) {
    const std::string path = dir.path() + "/receiver" + std::to_string(number);
    receivers.push_back(std::make_unique<SimulatedReceiver>(path, std::move(args)));
    ASSERT_TRUE(receivers.back()->ready());
    view.paths[number] = path;
  }

  // Runs the attempt begun by Start or Refresh Time to its outcome, polling back to back.
  void PollToOutcome() {
    while (timerDaro.enabled) cycle.Timer_DAROTimer();
  }

  // One attempt by Refresh Time on port `number`.
  const std::string& Refresh(int number) {
    view.index[static_cast<int>(Control::ComboBox_COM)] = number - 1;
    cycle.RefreshTime();
    PollToOutcome();
    return view.Caption(Panel::Panel_Status);
  }

  TempDir dir;
  std::vector<std::unique_ptr<SimulatedReceiver>> receivers;
  std::unique_ptr<SerialPort> port = NewSystemSerialPort();
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
  view.paths[3] = dir.path() + "/no-such-port";
  Receiver(4, {"--silent"});
  Receiver(5, {"--silent"});
  auto holder = NewSystemSerialPort();  // another program holding port 4
  ASSERT_TRUE(holder->Open(view.paths[4].c_str()));

  view.SetIntervalText("00 00:01");
  const int descriptors = OpenDescriptors();
  std::size_t heapAfterWarmUp = 0;
  int successes = 0;
  const auto began = std::chrono::steady_clock::now();

  cycle.StartUpdates();  // its first attempt goes to port 1 at once
  PollToOutcome();
  ASSERT_EQ(view.Caption(Panel::Panel_Status), "Success");
  ++successes;
  constexpr int kAttempts = 10001;
  for (int n = 2; n <= kAttempts; ++n) {
    const Planned plan = Plan(n);
    ASSERT_EQ(Refresh(plan.port), plan.status) << "attempt " << n;
    if (n <= 9999 && std::string(plan.status) == "Success") ++successes;
    ASSERT_FALSE(link->isOpen) << "attempt " << n;
    if (n % 1000 == 0) {
      ASSERT_EQ(OpenDescriptors(), descriptors) << "after attempt " << n;
      if (n == 1000) heapAfterWarmUp = HeapInUse();
      std::printf("after %5d attempts: %d descriptors, %zu bytes of heap in use\n", n,
                  OpenDescriptors(), HeapInUse());
    }
    if (n == 9999) {
      EXPECT_EQ(view.Caption(Panel::Panel_TotalUpdates), std::to_string(successes) + "/9999");
    }
    if (n == 10000) {
      EXPECT_EQ(view.Caption(Panel::Panel_TotalUpdates), "0/1");  // wrapped
    }
  }
  EXPECT_EQ(view.Caption(Panel::Panel_TotalUpdates), "1/2");
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
  EXPECT_FALSE(link->isOpen);
  EXPECT_EQ(OpenDescriptors(), descriptors);
  // The receiver has gone for good: the next attempt cannot open the port.
  EXPECT_EQ(Refresh(1), "Error - COM Failure");
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

}  // namespace
}  // namespace clockagent::test
