// Parsing and dispatching receiver bytes, and sending requests, allocate nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
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

// Outlets that keep what they are given in fixed storage.
struct FixedText final : TextTarget {
  void SetText(const char* text) override {
    std::snprintf(last, sizeof last, "%s", text);
    ++calls;
  }
  char last[kTimeOfWeekTextSize] = {};
  int calls = 0;
};
struct CountingCycle final : OutcomeSink {
  void ReportOutcome(UpdateOutcome) override { ++reports; }
  int reports = 0;
};
struct CountingPort final : NullPort {
  void Write(const std::uint8_t*, std::size_t length) override { bytes += length; }
  std::size_t bytes = 0;
};

TEST(NoAllocation, TheCounterSeesAllocations) {
  const long before = g_allocations;
  auto p = std::make_unique<int>(1);
  EXPECT_EQ(g_allocations - before, 1);
}

TEST(NoAllocation, ParsingDispatchingAndSendingAllocateNothing) {
  std::vector<Bytes> captures;
  for (const std::string& name : CaptureNames()) captures.push_back(ReadCapture(name));
  ASSERT_EQ(captures.size(), 6u);
  auto link = std::make_unique<ReceiverLink>();
  CountingPort port;
  FixedText panel;
  DryRunClockSetter clock;
  CountingCycle cycle;
  TimingContext context;
  context.Panel_Time = &panel;
  context.clock = &clock;
  context.cycle = &cycle;
  link->port = &port;
  link->isOpen = 1;

  const long before = g_allocations;
  long packets = 0;
  for (const Bytes& capture : captures) {
    context.TimeReceived = 0;  // a new attempt for each recording
    RequestTime(*link);
    ReceiveBytes(*link, capture.data(), capture.size(), [&](ReceiverLink& completed) {
      ++packets;
      DispatchPacket(completed, context);
    });
  }
  const long allocations = g_allocations - before;

  EXPECT_EQ(allocations, 0);
  EXPECT_GT(packets, 500);
  EXPECT_EQ(port.bytes, 6u * 4u);
  EXPECT_EQ(cycle.reports, 6);  // every recording holds a timing packet, each set the clock
  EXPECT_EQ(clock.calls, 6);
  EXPECT_EQ(panel.calls, 6);
}

}  // namespace
}  // namespace clockagent::test
