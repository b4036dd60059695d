// The discipline's figures: `clockagent run` against a simulated receiver with its pulse on DCD,
// an update a minute, on a virtual system clock 100 ppm fast and 0.3 s behind, with and without
// --discipline side by side. The clock's error against the true time is read every second: over
// minutes 4 to 8, and over three minutes after the receiver is stopped at minute 8 (holdover).
// About eleven minutes; the figures go to standard output.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/cli_support.h"
#include "tests/support/virtual_clock.h"

namespace clockagent::test {
namespace {

constexpr int kSettleSeconds = 240, kMeasuredUntil = 480, kHoldoverUntil = 660;

// One run: its receiver and modem lines, its virtual clock, its program.
struct Run {
  Run(const std::string& folder, bool discipline) : clock(folder + "/clock") {
    const FakeModemLines lines(folder);
    receiver = std::make_unique<SimulatedReceiver>(folder + "/receiver",
                                                   std::vector<std::string>{"--broadcast", "--pulse", "dcd"});
    const VirtualClockPreload preload(CLOCKAGENT_VIRTUAL_CLOCK, folder + "/clock", 100, -300);
    std::vector<std::string> args = {"run", "--port", folder + "/receiver", "--interval", "00 00:01",
                                     "--pulse", "dcd"};
    if (discipline) args.push_back("--discipline");
    program = std::make_unique<BackgroundClockagent>(args, folder + "/run.err", folder + "/run.out");
  }

  std::unique_ptr<SimulatedReceiver> receiver;
  VirtualClockReader clock;
  std::unique_ptr<BackgroundClockagent> program;
  double sum = 0, worst = 0, holdoverWorst = 0;
  int count = 0;
  unsigned stepsAt8 = 0;
  double rateAt8 = 0;
};

void Note(Run& run, int second) {
  const double errorMs = static_cast<double>(run.clock.ErrorNs()) / 1e6;
  if (second >= kSettleSeconds && second < kMeasuredUntil) {
    run.sum += std::fabs(errorMs);
    run.worst = std::max(run.worst, std::fabs(errorMs));
    ++run.count;
  } else if (second >= kMeasuredUntil) {
    run.holdoverWorst = std::max(run.holdoverWorst, std::fabs(errorMs));
  }
}

}  // namespace
}  // namespace clockagent::test

int main() {
  using namespace clockagent::test;
  TempDir dir;
  mkdir((dir.path() + "/disciplined").c_str(), 0700);
  mkdir((dir.path() + "/stepped").c_str(), 0700);
  Run disciplined(dir.path() + "/disciplined", true), stepped(dir.path() + "/stepped", false);
  if (!disciplined.receiver->ready() || !stepped.receiver->ready()) {
    std::fprintf(stderr, "discipline_bench: the simulated receivers did not start\n");
    return 1;
  }
  for (int second = 0; second < kHoldoverUntil; ++second) {
    sleep(1);
    if (second < 2) continue;  // the clocks' files are made by the programs' first reads
    if (!disciplined.clock.Open() || !stepped.clock.Open()) continue;
    if (second == kMeasuredUntil) {
      for (Run* run : {&disciplined, &stepped}) {
        run->stepsAt8 = run->clock.State().steps.load();
        run->rateAt8 = run->clock.Line().FreqPpm();
        run->receiver->Stop();
      }
    }
    Note(disciplined, second);
    Note(stepped, second);
  }
  std::printf("virtual clock 100 ppm fast, 0.3 s behind; an update a minute, timed by the pulse\n");
  std::printf("%-12s %22s %22s %14s %20s %22s\n", "run", "mean |error| min 4-8", "worst min 4-8",
              "steps by 8", "rate at 8", "worst, 3 min holdover");
  for (const auto& [name, run] : {std::make_pair("discipline", &disciplined), std::make_pair("stepping", &stepped)}) {
    std::printf("%-12s %19.3f ms %19.3f ms %14u %16.3f ppm %19.3f ms\n", name,
                run->count > 0 ? run->sum / run->count : 0.0, run->worst, run->stepsAt8, run->rateAt8,
                run->holdoverWorst);
  }
  std::printf("kernel loop used: %u\n", disciplined.clock.State().kernelLoopUses.load());
  return 0;
}
