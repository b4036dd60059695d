// Parsing and dispatching receiver bytes, and sending requests, allocate nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "tests/support/test_support.h"

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++g_allocations;
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace clockagent::test {
namespace {

// A receiver in memory: once asked, serves one recording, a block at a time, and counts what is
// written. Its blocks are a line's half second at most, so that a timing packet is placed within
// it: a clock that reads the packet's time takes it at once.
struct RecordingReceiver final : NullPort {
  bool Open(const char*) override { return true; }
  std::uint32_t QueuedBytes() override {
    return written > 0 ? static_cast<std::uint32_t>(size - at) : 0;
  }
  std::uint32_t Read(std::uint8_t* buffer, std::uint32_t room) override {
    const std::size_t n = std::min<std::size_t>({room, size - at, 480});
    std::memcpy(buffer, bytes + at, n);
    at += n;
    return static_cast<std::uint32_t>(n);
  }
  void Write(const std::uint8_t*, std::size_t length) override { written += length; }
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  std::size_t at = 0;
  std::size_t written = 0;
};

// A front end that keeps what it is told in fixed storage.
struct CountingFront final : CycleFrontEnd {
  CycleChoices Choices() override { return choices; }
  void AttemptBegan() override {}
  void TimeOfWeekReceived(const TimingFields& fields, TimeType timeType) override {
    FormatTimeOfWeek(ShownTimeOfWeek(fields, timeType), shown);
  }
  void AttemptEnded(const AttemptResult& result) override {
    if (result.outcome == UpdateOutcome::Success) ++successes;
  }
  void ScheduleChanged(bool) override {}
  void Refused(const char*) override {}
  CycleChoices choices;
  char shown[kTimeOfWeekTextSize] = {};
  int successes = 0;
};

TEST(NoAllocation, TheCounterSeesAllocations) {
  const long before = g_allocations;
  auto p = std::make_unique<int>(1);
  EXPECT_EQ(g_allocations - before, 1);
}

struct CountingSink final : TimingSink {
  void TimingPacketReceived(const TimingReport&) override { ++reports; }
  int reports = 0;
};

TEST(NoAllocation, ParsingAndDispatchingWholeRecordingsAllocateNothing) {
  std::vector<Bytes> captures;
  for (const std::string& name : CaptureNames()) captures.push_back(ReadCapture(name));
  auto link = std::make_unique<ReceiverLink>();
  link->isOpen = 1;
  CountingSink sink;
  TimingContext context;
  context.sink = &sink;

  const long before = g_allocations;
  long packets = 0;
  for (const Bytes& capture : captures) {
    ReceiveBytes(*link, capture.data(), capture.size(), [&](ReceiverLink& completed) {
      ++packets;
      DispatchPacket(completed, context);
    });
  }
  EXPECT_EQ(g_allocations - before, 0);
  EXPECT_GT(packets, 500);
  EXPECT_EQ(sink.reports, 119);  // every timing packet of the six recordings
}

TEST(NoAllocation, WholeAttemptsOverTheRecordingsAllocateNothing) {
  std::vector<Bytes> captures;
  std::vector<std::int64_t> times;  // of each first timing packet: no second one is needed
  for (const std::string& name : CaptureNames()) {
    captures.push_back(ReadCapture(name));
    auto link = std::make_unique<ReceiverLink>();
    link->isOpen = 1;
    RecordedAttempt first;
    ReceiveBytes(*link, captures.back().data(), captures.back().size(),
                 [&](ReceiverLink& completed) { DispatchPacket(completed, first.context); });
    const double receiverTime = first.sink.reports.at(0).receiverTime;
    times.push_back(std::llround((receiverTime + kGpsEpochDays * 86400.0) * 1e9));
  }
  ASSERT_EQ(captures.size(), 6u);
  RecordingReceiver receiver;
  CountingFront front;
  TimerState timerUpdate{kDefaultUpdateIntervalMs};
  TimerState timerPoll{kPollIntervalMs};
  DryRunClockSetter clock;
  FakeLinkClock linkClock;
  UpdateEngine engine(receiver, timerUpdate, timerPoll, clock, front);
  engine.link->clock = &linkClock;
  engine.cycle.SetEarliestReceiverTime(0);

  // Each recording holds a timing packet: an attempt requests, reads, parses and dispatches
  // until it is found, then shows the time of week, sets the clock and reports the outcome.
  const long before = g_allocations;
  for (std::size_t i = 0; i < captures.size(); ++i) {
    const Bytes& capture = captures[i];
    linkClock.now.systemNs = times[i];
    receiver.bytes = capture.data();
    receiver.size = capture.size();
    receiver.at = 0;
    receiver.written = 0;
    engine.cycle.RefreshTime();
    while (timerPoll.enabled) engine.cycle.Timer_DAROTimer();
  }
  const long allocations = g_allocations - before;

  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(front.successes, 6);
  EXPECT_EQ(clock.calls, 6);
  EXPECT_GT(receiver.written, 0u);
  EXPECT_EQ(receiver.written % 4, 0u);  // whole requests
}

}  // namespace
}  // namespace clockagent::test
