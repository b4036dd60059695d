// Throughput of the receive loop over real receiver bytes, and of the clock conversion.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "receiver/daro_link.h"
#include "receiver/timing_packets.h"
#include "update/clock_setting.h"

namespace {

using clockagent::ReceiverLink;

// Every recording, concatenated and repeated to 1 MiB.
const std::vector<std::uint8_t>& CaptureBytes() {
  static const std::vector<std::uint8_t> bytes = [] {
    std::vector<std::uint8_t> one;
    for (const auto& entry : std::filesystem::directory_iterator(CLOCKAGENT_CAPTURES_DIR)) {
      if (entry.path().extension() != ".bin") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      one.insert(one.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::uint8_t> all;
    while (!one.empty() && all.size() < (1u << 20)) all.insert(all.end(), one.begin(), one.end());
    return all;
  }();
  return bytes;
}

void SetThroughput(benchmark::State& state, std::size_t bytesPerIteration) {
  const auto bytes = static_cast<double>(bytesPerIteration) * static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["MB"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
}

// The receive loop over 8192-byte blocks, counting completed packets.
void BM_ReceiveLoop(benchmark::State& state) {
  const auto& bytes = CaptureBytes();
  auto link = std::make_unique<ReceiverLink>();
  long packets = 0;
  for (auto _ : state) {
    clockagent::ReceiveBytes(*link, bytes.data(), bytes.size(),
                             [&](ReceiverLink&) { ++packets; });
  }
  benchmark::DoNotOptimize(packets);
  SetThroughput(state, bytes.size());
  state.counters["packets"] = static_cast<double>(packets) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReceiveLoop);

// Takes the timing packets' reports and does nothing with them.
class IgnoringSink final : public clockagent::TimingSink {
 public:
  void TimingPacketReceived(const clockagent::TimingReport&) override {}
};

// The same with the dispatcher as the callback: every timing packet read and reported.
void BM_ReceiveLoopWithDispatch(benchmark::State& state) {
  const auto& bytes = CaptureBytes();
  auto link = std::make_unique<ReceiverLink>();
  link->isOpen = 1;
  IgnoringSink sink;
  clockagent::TimingContext context;
  context.sink = &sink;
  for (auto _ : state) {
    clockagent::ReceiveBytes(*link, bytes.data(), bytes.size(), [&](ReceiverLink& completed) {
      clockagent::DispatchPacket(completed, context);
    });
  }
  SetThroughput(state, bytes.size());
}
BENCHMARK(BM_ReceiveLoopWithDispatch);

void BM_ReceiverTimeToCalendar(benchmark::State& state) {
  double t = 1.0;
  clockagent::SystemTime time;
  for (auto _ : state) {
    benchmark::DoNotOptimize(clockagent::ReceiverTimeToSystemTime(t, &time));
    t += 7777.77;
    if (t > 4e10) t = 1.0;
  }
}
BENCHMARK(BM_ReceiverTimeToCalendar);

}  // namespace

BENCHMARK_MAIN();
