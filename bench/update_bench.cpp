// Whole updates against a simulated receiver on a pseudo-terminal, with the cycle's real timers:
// how long Refresh Time takes to reach its outcome, and how far the time set is from the true
// time. Each repetition is one attempt; the figures are the median and the maximum.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "update/timer_loop.h"
#include "receiver/system_serial_port.h"
#include "tests/support/cli_support.h"
#include "update/clock_setter.h"
#include "update/update_cycle.h"

namespace {

using namespace clockagent;

constexpr int kAttempts = 50;

double NowUnix() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Sets nothing; notes how far the time it was given is from the true time at that moment.
class StampingClock final : public ClockSetter {
 public:
  bool Set(const SystemTime& utc) override {
    const double now = NowUnix();
    std::int64_t seconds = 0;
    SystemTimeToUnixSeconds(utc, &seconds);
    errorMs = (static_cast<double>(seconds) + utc.wMilliseconds * 1e-3 + utc.microseconds * 1e-6 -
               now) * 1000.0;
    return true;
  }
  double errorMs = 0;
};

// Counts the outcomes; the port is the simulated receiver's.
class BenchFront final : public CycleFrontEnd {
 public:
  CycleChoices Choices() override { return choices; }
  void AttemptBegan() override {}
  void TimeOfWeekReceived(const TimingFields&, TimeType) override {}
  void AttemptEnded(const AttemptResult& result) override {
    ++outcomes;
    succeeded = result.outcome == UpdateOutcome::Success;
  }
  void ScheduleChanged(bool) override {}
  void Refused(const char*) override {}
  CycleChoices choices;
  int outcomes = 0;
  bool succeeded = false;
};

// A simulated receiver and the cycle wired as the command-line tool wires it.
struct Rig {
  explicit Rig(std::vector<std::string> receiverArgs, PulseLine pulse = PulseLine::None,
               ReceiverProtocol protocol = ReceiverProtocol::Daro)
      : receiver(dir.path() + "/receiver", std::move(receiverArgs)) {
    front.choices.port.device = dir.path() + "/receiver";
    front.choices.pulse = pulse;
    front.choices.protocol = protocol;
  }

  // Refresh Time, then the poll timer and the port, as the console tool runs them, until the
  // outcome; false unless it is Success.
  bool Attempt() {
    const int before = front.outcomes;
    UpdateCycle& cycle = engine.cycle;
    cycle.RefreshTime();
    const ArrivalHandler arrival = CycleArrival(*port, cycle);
    RunTimers({{&timerPoll, [&cycle] { cycle.Timer_DAROTimer(); }}},
              [&] { return front.outcomes > before; }, &arrival);
    return front.succeeded;
  }

  clockagent::test::TempDir dir;
  clockagent::test::SimulatedReceiver receiver;
  BenchFront front;
  StampingClock clock;
  std::unique_ptr<SerialPort> port = NewSystemSerialPort();
  LoopTimer timerUpdate{kDefaultUpdateIntervalMs, false};
  LoopTimer timerPoll{kPollIntervalMs, false};  // as after an earlier attempt's outcome
  UpdateEngine engine{*port, timerUpdate, timerPoll, clock, front};
};

double Max(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

// One attempt a repetition; the figures are the median and the maximum.
void PerAttempt(benchmark::internal::Benchmark* b) {
  b->Iterations(1)
      ->Repetitions(kAttempts)
      ->Unit(benchmark::kMillisecond)
      ->ComputeStatistics("max", Max)
      ->ReportAggregatesOnly(true);
}

Rig& Answering() {
  static Rig rig({});
  return rig;
}
// Answers at once: the exact answers of the other wait up to a 32nd of a second for a time of
// week a single holds, which is the simulator's, not the program's, delay.
Rig& AnsweringAtOnce() {
  static Rig rig({"--at-once"});
  return rig;
}
Rig& Broadcasting() {
  static Rig rig({"--broadcast"});
  return rig;
}

// Broadcasts 20-80 ms after a pulse on its DTR, which reaches the port's DCD: through the tests'
// fake modem lines, which scripts/figures.sh preloads into this program and its simulators.
Rig& Pulsed() {
  static Rig rig({"--broadcast", "--pulse", "dcd"}, PulseLine::Dcd);
  return rig;
}

// Refresh Time to outcome, the receiver answering each request at once at 9600 baud.
void BM_RefreshToOutcome(benchmark::State& state) {
  for (auto _ : state) {
    const auto began = std::chrono::steady_clock::now();
    if (!AnsweringAtOnce().Attempt()) state.SkipWithError("the attempt did not succeed");
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
  }
}
BENCHMARK(BM_RefreshToOutcome)->Apply(PerAttempt)->UseManualTime();

// How far behind the true time the clock is set, and how far off either way. (The time column
// is only how long each attempt took.)
void ClockError(benchmark::State& state, Rig& rig) {
  for (auto _ : state) {
    if (!rig.Attempt()) state.SkipWithError("the attempt did not succeed");
  }
  state.counters["behind_ms"] = -rig.clock.errorMs;
  state.counters["off_ms"] = std::fabs(rig.clock.errorMs);
}

// A receiver broadcasting 0x8F-AB at each second edge.
void BM_ClockErrorBroadcast(benchmark::State& state) { ClockError(state, Broadcasting()); }
BENCHMARK(BM_ClockErrorBroadcast)->Apply(PerAttempt);

// A receiver answering each request with 0x41, whose time of week carries the fraction of the
// second.
void BM_ClockErrorAnswer(benchmark::State& state) { ClockError(state, Answering()); }
BENCHMARK(BM_ClockErrorAnswer)->Apply(PerAttempt);

// The same receiver as BM_ClockErrorBroadcast, but its packets wander 20-80 ms behind its pulse on
// DCD, which times them.
void BM_ClockErrorPulse(benchmark::State& state) {
  if (std::getenv("FAKE_MODEM_LINES") == nullptr) {
    state.SkipWithError("needs the fake modem lines preloaded (scripts/figures.sh)");
    return;
  }
  ClockError(state, Pulsed());
}
BENCHMARK(BM_ClockErrorPulse)->Apply(PerAttempt);

// An NMEA receiver speaking `delayMs` after its pulse on DCD: the edge before each burst gets the
// second the burst names, however late the receiver speaks.
// (Its pulse is in step with the other simulators' on the same fake line: all mark the true second.)
void ClockErrorNmea(benchmark::State& state, const char* delayMs) {
  if (std::getenv("FAKE_MODEM_LINES") == nullptr) {
    state.SkipWithError("needs the fake modem lines preloaded (scripts/figures.sh)");
    return;
  }
  static std::map<std::string, std::unique_ptr<Rig>> rigs;  // one receiver each, started once
  std::unique_ptr<Rig>& rig = rigs[delayMs];
  if (rig == nullptr) {
    rig = std::make_unique<Rig>(std::vector<std::string>{"--protocol", "nmea", "--nmea-delay",
                                                         delayMs, "--pulse", "dcd"},
                                PulseLine::Dcd, ReceiverProtocol::Nmea);
  }
  ClockError(state, *rig);
}
void BM_ClockErrorNmeaPulse100ms(benchmark::State& state) { ClockErrorNmea(state, "100"); }
BENCHMARK(BM_ClockErrorNmeaPulse100ms)->Apply(PerAttempt);
void BM_ClockErrorNmeaPulse700ms(benchmark::State& state) { ClockErrorNmea(state, "700"); }
BENCHMARK(BM_ClockErrorNmeaPulse700ms)->Apply(PerAttempt);

// The same receiver 0.1 s after the second without its pulse, the latency set to those 100 ms:
// the burst's first byte alone times the update. (The simulator speaks without the jitter of a
// real module, so this is the program's own part of the error.)
void BM_ClockErrorNmeaLatency100ms(benchmark::State& state) {
  static Rig rig({"--protocol", "nmea", "--nmea-delay", "100"}, PulseLine::None,
                 ReceiverProtocol::Nmea);
  rig.front.choices.latencyMs = 100;
  ClockError(state, rig);
}
BENCHMARK(BM_ClockErrorNmeaLatency100ms)->Apply(PerAttempt);

// That receiver's packets alone, without the pulse: what the pulse saves.
void BM_ClockErrorPulseUnused(benchmark::State& state) {
  static Rig rig({"--broadcast", "--pulse", "dcd"});
  ClockError(state, rig);
}
BENCHMARK(BM_ClockErrorPulseUnused)->Apply(PerAttempt);

}  // namespace

BENCHMARK_MAIN();
