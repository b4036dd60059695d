// The real POSIX clock setter, run without the right to change the clock.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

bool MayChangeClock() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) == 0) {
      const unsigned long long effective = std::stoull(line.substr(7), nullptr, 16);
      return (effective >> CAP_SYS_TIME) & 1u;
    }
  }
  return true;  // unknown: assume the worst
}

// Gives up the right to change the clock for the rest of this process.
void DropClockRight() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return;
  data[0].effective &= ~(1u << CAP_SYS_TIME);
  data[0].permitted &= ~(1u << CAP_SYS_TIME);
  data[0].inheritable &= ~(1u << CAP_SYS_TIME);
  syscall(SYS_capset, &header, data);
}

TEST(SystemClockSetter, WithoutTheRightTheClockIsRefused) {
  DropClockRight();
  ASSERT_FALSE(MayChangeClock()) << "refusing to run: this process could change the clock";

  SystemTime time;
  time.wYear = 2003, time.wMonth = 1, time.wDay = 5;
  SystemClockSetter clock;
  errno = 0;
  EXPECT_FALSE(clock.Set(time));
  EXPECT_EQ(errno, EPERM);

  // The whole road of an attempt: an accepted time that the system refuses.
  SystemTime asked;
  EXPECT_EQ(ApplyReceiverTime(725760000, clock, &asked), UpdateOutcome::SystemUpdateFailure);
}

TEST(SystemClockSetter, InvalidRecordsAreRefusedBeforeTheSystemIsAsked) {
  DropClockRight();
  ASSERT_FALSE(MayChangeClock());
  SystemTime time;
  time.wYear = 2100, time.wMonth = 2, time.wDay = 29;
  SystemClockSetter clock;
  errno = 0;
  EXPECT_FALSE(clock.Set(time));
  EXPECT_EQ(errno, 0);
}

}  // namespace
}  // namespace clockagent::test
