// The samples as the daemons read them: chronyd's SOCK datagram byte for byte, and the NTP
// shared-memory segment written so that a reader following the count and valid protocol never
// takes half of one sample and half of another.
#include <gtest/gtest.h>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "refclock/refclock_outputs.h"

namespace clockagent::test {
namespace {

constexpr std::int64_t kNs = 1000000000;

TEST(SockSample, DatagramByteForByte) {
  ASSERT_EQ(sizeof(SockSample), 40u) << "the size chronyd takes on 64-bit Linux";
  const struct {
    const char* name;
    ClockSample sample;
    std::array<std::uint8_t, 40> bytes;
  } cases[] = {
      // 1700000000 = 0x6553F100 s, 123456 = 0x1E240 us; the 789 ns cut from the moment join the
      // offset, which comes to 0.25 s = 0x3FD0000000000000.
      {"clock behind",
       {1700000000 * kNs + 123456789, 250000000 - 789},
       {0x00, 0xF1, 0x53, 0x65, 0x00, 0x00, 0x00, 0x00,  // tv_sec
        0x40, 0xE2, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,  // tv_usec
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD0, 0x3F,  // offset
        0x00, 0x00, 0x00, 0x00,                          // pulse
        0x00, 0x00, 0x00, 0x00,                          // leap
        0x00, 0x00, 0x00, 0x00,                          // padding
        0x4B, 0x43, 0x4F, 0x53}},                        // magic "SOCK"
      // 1800000000 = 0x6B49D200 s, 0 us; -1.5 s = 0xBFF8000000000000.
      {"clock ahead",
       {1800000000 * kNs + 999, -1500000000 - 999},
       {0x00, 0xD2, 0x49, 0x6B, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0xBF,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x4B, 0x43, 0x4F, 0x53}},
  };
  for (const auto& c : cases) {
    const auto bytes = EncodeSockSample(c.sample);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
              std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.end()))
        << c.name;
  }
}

TEST(ShmSegment, UnitsAndSplitTimes) {
  ASSERT_EQ(sizeof(ShmTime), 96u) << "the segment size the daemons make on 64-bit Linux";
  EXPECT_EQ(offsetof(ShmTime, valid), 48u);
  EXPECT_EQ(offsetof(ShmTime, clockTimeStampNSec), 52u);
  const struct {
    std::int64_t ns;
    std::int64_t seconds;
    std::int32_t nanoseconds;
  } splits[] = {{0, 0, 0},
                {1700000000 * kNs + 123456789, 1700000000, 123456789},
                {999999999, 0, 999999999},
                {-1, -1, 999999999},
                {-kNs, -1, 0}};
  for (const auto& s : splits) {
    const SplitTime split = SplitNs(s.ns);
    EXPECT_EQ(split.seconds, s.seconds) << s.ns;
    EXPECT_EQ(split.nanoseconds, s.nanoseconds) << s.ns;
  }
}

// What a reader of the segment takes in: the count it started from, the fields, valid, and the
// count it found at the end.
struct ReaderView {
  int countBefore = 0;
  int mode = 0;
  long long clockSec = 0;
  int clockUSec = 0;
  unsigned clockNSec = 0;
  long long receiveSec = 0;
  int receiveUSec = 0;
  unsigned receiveNSec = 0;
  int leap = 0;
  int precision = 0;
  int valid = 0;
  int countAfter = 0;

  bool Accepted() const { return valid != 0 && mode == 1 && countBefore == countAfter; }
  bool HoldsSample(const ClockSample& sample) const {
    const SplitTime clock = SplitNs(sample.systemNs + sample.offsetNs);
    const SplitTime receive = SplitNs(sample.systemNs);
    return clockSec == clock.seconds && clockNSec == static_cast<unsigned>(clock.nanoseconds) &&
           clockUSec == clock.nanoseconds / 1000 && receiveSec == receive.seconds &&
           receiveNSec == static_cast<unsigned>(receive.nanoseconds) &&
           receiveUSec == receive.nanoseconds / 1000 && leap == 0 && precision == kShmPrecision;
  }
};

// The reader's steps: the count first, then the clock stamps (with the mode), the receive stamps
// (with leap and precision) and valid each at a moment of their own, and the count again last.
struct ReaderSchedule {
  int countBefore, clockStamps, receiveStamps, valid, countAfter;  // after that many stores
};

void ReadStep(const volatile ShmTime& s, const ReaderSchedule& at, int point, ReaderView& view) {
  if (at.countBefore == point) view.countBefore = s.count;
  if (at.clockStamps == point) {
    view.mode = s.mode;
    view.clockSec = s.clockTimeStampSec;
    view.clockUSec = s.clockTimeStampUSec;
    view.clockNSec = s.clockTimeStampNSec;
  }
  if (at.receiveStamps == point) {
    view.receiveSec = s.receiveTimeStampSec;
    view.receiveUSec = s.receiveTimeStampUSec;
    view.receiveNSec = s.receiveTimeStampNSec;
    view.leap = s.leap;
    view.precision = s.precision;
  }
  if (at.valid == point) view.valid = s.valid;
  if (at.countAfter == point) view.countAfter = s.count;
}

using Writer = std::function<void(volatile ShmTime&, const ClockSample&,
                                  const std::function<void()>& betweenStores)>;

struct Tally {
  int schedules = 0;
  int rejected = 0;
  int tookOld = 0;
  int tookNew = 0;
  int tookTorn = 0;  // half of one sample and half of another: what must never happen
};

// Runs `write` of `next` over a segment holding `previous` (still valid, or taken already) against
// a reader at every schedule of its steps among the writer's stores.
Tally ReadAtEverySchedule(const Writer& write, bool previousTaken) {
  const ClockSample previous{1700000000 * kNs + 123456789, 250000000};
  const ClockSample next{1700000001 * kNs + 987654321, -3000};
  volatile ShmTime probe{};
  int stores = 0;
  write(probe, next, [&stores] { ++stores; });

  Tally tally;
  for (int first = 0; first <= stores; ++first) {
    for (int last = first; last <= stores; ++last) {
      for (int c = first; c <= last; ++c) {
        for (int r = first; r <= last; ++r) {
          for (int v = first; v <= last; ++v) {
            const ReaderSchedule schedule{first, c, r, v, last};
            volatile ShmTime segment{};
            segment.count = 40;
            write(segment, previous, [] {});
            if (previousTaken) segment.valid = 0;
            ReaderView view;
            int point = 0;
            ReadStep(segment, schedule, point, view);
            write(segment, next, [&] { ReadStep(segment, schedule, ++point, view); });
            ++tally.schedules;
            if (!view.Accepted()) {
              ++tally.rejected;
            } else if (view.HoldsSample(previous)) {
              ++tally.tookOld;
            } else if (view.HoldsSample(next)) {
              ++tally.tookNew;
            } else {
              ++tally.tookTorn;
            }
          }
        }
      }
    }
  }
  return tally;
}

void ProgramWriter(volatile ShmTime& segment, const ClockSample& sample,
                   const std::function<void()>& betweenStores) {
  WriteShmSample(segment, sample, betweenStores);
}

TEST(ShmSegment, ModeOneWriteNeverHandsAReaderATornSample) {
  for (const bool previousTaken : {false, true}) {
    const Tally tally = ReadAtEverySchedule(ProgramWriter, previousTaken);
    SCOPED_TRACE(previousTaken ? "the previous sample taken" : "the previous sample still valid");
    EXPECT_EQ(tally.tookTorn, 0);
    EXPECT_GT(tally.tookNew, 0) << "a reader after the write takes the new sample";
    EXPECT_GT(tally.rejected, 0) << "a reader during the write takes nothing";
    if (previousTaken) {
      EXPECT_EQ(tally.tookOld, 0) << "a sample already taken is not taken again";
    } else {
      EXPECT_GT(tally.tookOld, 0) << "a reader before the write takes the previous sample";
    }
  }
}

TEST(ShmSegment, TheReaderCatchesAWriterThatSkipsTheProtocol) {
  // What a writer that fills the fields first and then bumps the count once would do: the
  // schedules above must find the torn samples it hands out.
  const Writer careless = [](volatile ShmTime& s, const ClockSample& sample,
                             const std::function<void()>& betweenStores) {
    volatile ShmTime whole{};
    WriteShmSample(whole, sample, [] {});
    s.mode = 1;
    betweenStores();
    s.clockTimeStampSec = whole.clockTimeStampSec;
    betweenStores();
    s.clockTimeStampUSec = whole.clockTimeStampUSec;
    s.clockTimeStampNSec = whole.clockTimeStampNSec;
    betweenStores();
    s.receiveTimeStampSec = whole.receiveTimeStampSec;
    s.receiveTimeStampUSec = whole.receiveTimeStampUSec;
    s.receiveTimeStampNSec = whole.receiveTimeStampNSec;
    s.leap = whole.leap;
    s.precision = whole.precision;
    betweenStores();
    s.count = s.count + 1;
    betweenStores();
    s.valid = 1;
    betweenStores();
  };
  EXPECT_GT(ReadAtEverySchedule(careless, false).tookTorn, 0);
}

// ctest runs these in an IPC namespace of their own: no segment of this machine's daemons is met.
TEST(ShmSegment, TheOutputMakesTheUnitsSegmentForItselfAloneAndAgainWhenRemoved) {
  // A unit of its own for this process, far from the ones daemons use.
  const int unit = 100 + static_cast<int>(getpid() % 100);
  const key_t key = kShmKeyBase + unit;
  const int stale = shmget(key, 0, 0);
  if (stale >= 0) shmctl(stale, IPC_RMID, nullptr);

  const auto output = NewShmOutput(unit, 0);
  const int id = shmget(key, 0, 0);
  ASSERT_GE(id, 0) << "made at once, before the first sample";
  shmid_ds info{};
  ASSERT_EQ(shmctl(id, IPC_STAT, &info), 0);
  EXPECT_EQ(info.shm_segsz, sizeof(ShmTime));
  EXPECT_EQ(info.shm_perm.mode & 0777, 0600u);

  const ClockSample sample{1700000000 * kNs + 123456789, -5000000};
  EXPECT_TRUE(output->Send(sample, 0));
  EXPECT_TRUE(output->Send(sample, 0));
  const auto* segment = static_cast<const volatile ShmTime*>(shmat(id, nullptr, SHM_RDONLY));
  ASSERT_NE(segment, reinterpret_cast<const volatile ShmTime*>(-1));
  EXPECT_EQ(segment->count, 4) << "two samples, the count bumped before and after each";
  EXPECT_EQ(segment->valid, 1);
  EXPECT_EQ(segment->mode, 1);
  EXPECT_EQ(segment->precision, -10);
  EXPECT_EQ(segment->receiveTimeStampSec, 1700000000);
  EXPECT_EQ(segment->clockTimeStampNSec, 118456789u);
  shmdt(const_cast<const ShmTime*>(segment));
  shmctl(id, IPC_RMID, nullptr);

  EXPECT_TRUE(output->Send(sample, 0));
  const int remade = shmget(key, 0, 0);
  EXPECT_GE(remade, 0);
  EXPECT_NE(remade, id);
  shmctl(remade, IPC_RMID, nullptr);

  // A segment that another program made for anyone is not written, and its removal is told.
  const int open = shmget(key, sizeof(ShmTime), IPC_CREAT | 0666);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(NewShmOutput(unit, 0)->Send(sample, 0));
  const std::string me = std::to_string(geteuid());
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("others may write it (mode 0666, owner uid " + me + ", made by uid " + me +
                      "): any local user could give the daemon a time; remove it (ipcrm -M 0x"),
            std::string::npos)
      << said;
  const auto* written = static_cast<const volatile ShmTime*>(shmat(open, nullptr, SHM_RDONLY));
  EXPECT_EQ(written->count, 0);
  shmdt(const_cast<const ShmTime*>(written));
  shmctl(open, IPC_RMID, nullptr);
}

}  // namespace
}  // namespace clockagent::test
