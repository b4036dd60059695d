// The receiver's pulse per second as the serial port sees it: the modem line it is wired to, and
// the rising edges of that line stamped the moment they were seen.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "receiver/link_clock.h"

namespace clockagent {

// The modem input line that carries the pulse: DCD, or CTS on adapters that have no DCD.
enum class PulseLine : std::int32_t { None = 0, Dcd = 1, Cts = 2 };

// "NONE", "DCD", "CTS": the line's name as the settings store it and messages show it.
constexpr const char* PulseLineName(PulseLine line) {
  return line == PulseLine::Dcd ? "DCD" : line == PulseLine::Cts ? "CTS" : "NONE";
}

// The line whose PulseLineName is `name`, exactly; false for any other text.
inline bool PulseLineNamed(const std::string& name, PulseLine* line) {
  for (PulseLine each : {PulseLine::None, PulseLine::Dcd, PulseLine::Cts}) {
    if (name == PulseLineName(each)) {
      *line = each;
      return true;
    }
  }
  return false;
}

// The latest rising edges, written by the one thread that watches the line and read by the
// update cycle's thread without a lock: each edge goes into a slot of a ring, and the count that
// publishes it is stored after it. A reader keeps only the edges that no write can have touched
// while it copied them.
class PulseEdges {
 public:
  static constexpr int kSlots = 8;
  static constexpr int kKept = kSlots - 2;  // what a reader gets at most

  // Only while no watcher writes.
  void Clear() { count_.store(0, std::memory_order_release); }

  void Add(const ClockReading& edge) {
    const std::uint32_t n = count_.load(std::memory_order_relaxed);
    Slot& slot = slots_[n % kSlots];
    slot.systemNs.store(edge.systemNs, std::memory_order_relaxed);
    slot.monotonicNs.store(edge.monotonicNs, std::memory_order_relaxed);
    count_.store(n + 1, std::memory_order_release);
  }

  // Copies the latest edges, oldest first, into `edges`; returns how many.
  int Latest(ClockReading (&edges)[kKept]) const {
    const std::uint32_t before = count_.load(std::memory_order_acquire);
    const std::uint32_t first = before > kKept ? before - kKept : 0;
    ClockReading copied[kKept];
    for (std::uint32_t i = first; i < before; ++i) {
      const Slot& slot = slots_[i % kSlots];
      copied[i - first].systemNs = slot.systemNs.load(std::memory_order_relaxed);
      copied[i - first].monotonicNs = slot.monotonicNs.load(std::memory_order_relaxed);
    }
    std::atomic_thread_fence(std::memory_order_acquire);
    // An edge being written while the count still reads `after` may be overwriting the slot of
    // index after - kSlots; every index from after - kSlots + 1 on is whole.
    const std::uint32_t after = count_.load(std::memory_order_relaxed);
    const std::uint32_t whole = after >= kSlots - 1 ? after - (kSlots - 1) : 0;
    int n = 0;
    for (std::uint32_t i = first > whole ? first : whole; i < before; ++i) {
      edges[n++] = copied[i - first];
    }
    return n;
  }

 private:
  struct Slot {
    std::atomic<std::int64_t> systemNs{0};
    std::atomic<std::int64_t> monotonicNs{0};
  };
  Slot slots_[kSlots];
  std::atomic<std::uint32_t> count_{0};
};

}  // namespace clockagent
