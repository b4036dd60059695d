// Where reference-clock samples go: chronyd's SOCK socket, and the NTP shared-memory segment that
// chronyd, ntpd and ntpsec all read. Both layouts are this machine's, as the daemons built for it
// have them.
#pragma once

#include <sys/time.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "refclock/sample_output.h"
#include "update/clock_sample.h"

namespace clockagent {

// A sample as chronyd's SOCK driver takes it: one datagram of exactly this size.
struct SockSample {
  timeval tv;      // the system clock at the sample
  double offset;   // the receiver's time less tv, in seconds
  int pulse;       // 0: a whole time, not a pulse that needs another source for the seconds
  int leap;        // 0: no leap second announced
  int padding;
  int magic;       // kSockMagic
};
constexpr int kSockMagic = 0x534f434b;  // "SOCK"

// The datagram of a sample. tv holds whole microseconds, so the offset is taken from that
// truncated moment: together they still name the receiver's time to the nanosecond.
std::array<std::uint8_t, sizeof(SockSample)> EncodeSockSample(const ClockSample& sample);

// The NTP shared-memory segment of one unit.
struct ShmTime {
  int mode;                     // 1: the count and valid protocol
  int count;                    // bumped before and after the fields are written
  time_t clockTimeStampSec;     // the receiver's time ...
  int clockTimeStampUSec;
  time_t receiveTimeStampSec;   // ... at this moment of the system clock
  int receiveTimeStampUSec;
  int leap;                     // 0: no leap second announced
  int precision;                // log2 of the samples' precision in seconds
  int nsamples;
  int valid;                    // set once a sample is whole; the reader clears it
  unsigned clockTimeStampNSec;  // the nanoseconds, for readers that take them
  unsigned receiveTimeStampNSec;
  int dummy[8];
};
constexpr key_t kShmKeyBase = 0x4E545030;  // "NTP0": unit 0's key; unit N's is this plus N
constexpr int kLargestShmUnit = 255;
// About a millisecond: the packet's first byte is stamped to within a character time or two.
constexpr int kShmPrecision = -10;
// About 60 microseconds: an edge of the pulse, stamped as the driver wakes its watcher.
constexpr int kShmPulsePrecision = -14;

// The permissions every unit's segment is made with: this program's user alone may write it. The
// daemons attach it as root before they drop their rights, which needs no grant; a segment anyone
// could write would let any local user hand them a time.
constexpr int kShmMode = 0600;

// A moment split into whole seconds and nanoseconds, rounded down also before 1970.
struct SplitTime {
  std::int64_t seconds;
  std::int32_t nanoseconds;
};
SplitTime SplitNs(std::int64_t ns);

// Writes a sample into a segment in mode 1, in the order its readers rely on: valid cleared, the
// count bumped, the fields, the count bumped again, valid set. A reader that takes the count,
// then the fields and valid, then the count again, and finds the counts equal and valid set, has
// one whole sample. `betweenStores` runs after each store: a full fence in the program, so that
// neither compiler nor processor reorders them; a reader in tests.
template <class BetweenStores>
void WriteShmSample(volatile ShmTime& segment, const ClockSample& sample,
                    BetweenStores&& betweenStores) {
  const SplitTime clock = SplitNs(sample.systemNs + sample.offsetNs);
  const SplitTime receive = SplitNs(sample.systemNs);
  segment.valid = 0;
  betweenStores();
  segment.count = segment.count + 1;
  betweenStores();
  segment.mode = 1;
  betweenStores();
  segment.clockTimeStampSec = static_cast<time_t>(clock.seconds);
  betweenStores();
  segment.clockTimeStampUSec = clock.nanoseconds / 1000;
  betweenStores();
  segment.clockTimeStampNSec = static_cast<unsigned>(clock.nanoseconds);
  betweenStores();
  segment.receiveTimeStampSec = static_cast<time_t>(receive.seconds);
  betweenStores();
  segment.receiveTimeStampUSec = receive.nanoseconds / 1000;
  betweenStores();
  segment.receiveTimeStampNSec = static_cast<unsigned>(receive.nanoseconds);
  betweenStores();
  segment.leap = 0;
  betweenStores();
  segment.precision = sample.atPulse ? kShmPulsePrecision : kShmPrecision;
  betweenStores();
  segment.count = segment.count + 1;
  betweenStores();
  segment.valid = 1;
  betweenStores();
}

void WriteShmSample(volatile ShmTime& segment, const ClockSample& sample);

// Datagrams to the socket chronyd made at `path`.
std::unique_ptr<SampleOutput> NewSockOutput(const std::string& path);
// The segment of `unit`, made if no daemon has made it yet, and made again when someone removes
// it. Tries to attach at once. Warns when it finds a segment that others may write.
std::unique_ptr<SampleOutput> NewShmOutput(int unit, std::int64_t nowNs);

}  // namespace clockagent
