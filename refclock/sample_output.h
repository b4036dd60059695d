// One place a reference clock's samples go: a time daemon's socket or shared memory on Linux,
// Windows Time's provider on Windows.
#pragma once

#include <cstdint>

#include "update/clock_sample.h"

namespace clockagent {

class SampleOutput {
 public:
  virtual ~SampleOutput() = default;
  // Hands the sample on; `nowNs` is the monotonic clock. False when it did not go: the daemon is
  // not there (tried again at most once a second, and told on standard error only when that
  // begins and ends), or it has not kept up.
  virtual bool Send(const ClockSample& sample, std::int64_t nowNs) = 0;
  // A timing packet whose time was refused (the receiver's word, or no date): no sample came of it.
  virtual void Refused() {}
};

}  // namespace clockagent
