// The receiver's pulse per second as the serial port sees it: the modem line it is wired to, and
// the rising edges of that line stamped the moment they were seen.
#pragma once

#include <cstdint>
#include <mutex>
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
// update cycle's thread. An edge comes once a second: a lock around a ring of copies costs nothing
// there, and a reader never sees half of an edge on any processor.
class PulseEdges {
 public:
  static constexpr int kKept = 6;  // what a reader gets at most

  void Clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    next_ = 0;
    size_ = 0;
  }

  void Add(const ClockReading& edge) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ring_[next_] = edge;
    next_ = (next_ + 1) % kKept;
    if (size_ < kKept) ++size_;
  }

  // Copies the latest edges, oldest first, into `edges`; returns how many.
  int Latest(ClockReading (&edges)[kKept]) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 0; i < size_; ++i) edges[i] = ring_[(next_ + kKept - size_ + i) % kKept];
    return size_;
  }

 private:
  mutable std::mutex mutex_;
  ClockReading ring_[kKept];
  int next_ = 0;  // the slot of the next edge: the oldest once the ring is full
  int size_ = 0;  // edges held, at most kKept
};

}  // namespace clockagent
