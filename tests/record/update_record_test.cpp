// The record of every attempt and the icon's tip.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <fstream>
#include <sstream>
#include <thread>
#include <tuple>

#include "record/update_record.h"
#include "update/update_cycle.h"
#include "tests/support/cli_support.h"
#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

// 2026-12-08 09:23:49.123 UTC on the system clock.
constexpr std::int64_t kEnded =
    (DaysFromCivil(2026, 12, 8) * 86400 + 9 * 3600 + 23 * 60 + 49) * std::int64_t{1000000000} +
    123000000;

AttemptResult Result(UpdateOutcome outcome, bool packet, bool asked, double offset = 0) {
  AttemptResult r;
  r.outcome = outcome;
  r.port.number = 3;
  r.ended.systemNs = kEnded;
  r.packetTaken = packet;
  r.packet = TimingPacket::Packet41;
  r.clockAsked = asked;
  r.offsetSeconds = offset;
  r.clockTime.wYear = 2026, r.clockTime.wMonth = 12, r.clockTime.wDay = 8;
  r.clockTime.wHour = 9, r.clockTime.wMinute = 23, r.clockTime.wSecond = 49;
  r.clockTime.wMilliseconds = 120;
  return r;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(RecordLine, EachOutcomeSaysWhatThereIsToSay) {
  AttemptResult broadcast = Result(UpdateOutcome::SystemUpdateFailure, true, true, -0.0000125);
  broadcast.packet = TimingPacket::Packet8FAB;
  broadcast.pulse = PulseLine::Dcd;
  broadcast.pulseFit = PulseFit::Pulse;
  AttemptResult device = Result(UpdateOutcome::ComFailure, false, false);
  AttemptResult refused = Result(UpdateOutcome::BadTime, true, false);
  refused.refusal = Refusal::UserTime;
  device.port.device = "/dev/serial/by-id/usb-GPS,\"timing\"";
  AttemptResult slewed = Result(UpdateOutcome::Success, true, true, 0.00012);
  slewed.stepped = false;
  slewed.disciplined = true;
  slewed.ratePpm = -100.0124;
  AttemptResult stopped = Result(UpdateOutcome::DaroFailure, false, false);
  stopped.disciplineNote = kNotFollowingText;
  const struct {
    AttemptResult result;
    const char* line;
  } cases[] = {
      {Result(UpdateOutcome::Success, true, true, 0.4734),
       "2026-12-08T09:23:49.123Z,COM3,Success,0x41,+0.473400,2026-12-08T09:23:49.120Z,,packet,"},
      {Result(UpdateOutcome::DaroFailure, false, false),
       "2026-12-08T09:23:49.123Z,COM3,Error - DARO Failure,,,,,,"},
      {refused,
       "2026-12-08T09:23:49.123Z,COM3,Error - Bad Time,0x41,,,"
       "\"receiver: its time was entered by hand, not taken from GPS\",,"},
      {broadcast, "2026-12-08T09:23:49.123Z,COM3,Error - System Update,0x8F-AB,-0.000013,,,pulse,"},
      {device,
       "2026-12-08T09:23:49.123Z,\"/dev/serial/by-id/usb-GPS,\"\"timing\"\"\","
       "Error - COM Failure,,,,,,"},
      // Held by its rate: no time set, the rate in force; a discipline that stopped says why.
      {slewed, "2026-12-08T09:23:49.123Z,COM3,Success,0x41,+0.000120,,,packet,-100.012"},
      {stopped, "2026-12-08T09:23:49.123Z,COM3,Error - DARO Failure,,,,"
                "discipline off: the clock did not follow its rate,,"},
  };
  for (const auto& c : cases) EXPECT_EQ(RecordLine(c.result), c.line);
}

TEST(UpdateRecordFile, BeginsWithTheHeaderAndMakesRoomAtItsSize) {
  TempDir dir;
  const std::string path = dir.path() + "/updates.csv";
  UpdateRecord record(path, 320);
  EXPECT_EQ(record.OlderPath(), dir.path() + "/updates.1.csv");
  const std::string line = RecordLine(Result(UpdateOutcome::DaroFailure, false, false)) + "\r\n";
  const std::string header = std::string(kRecordHeader) + "\r\n";
  // A header of 71 bytes and lines of 58: five lines pass 320 bytes; the sixth begins a new file.
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(record.Append(Result(UpdateOutcome::DaroFailure, false, false)));
  std::string five = header;
  for (int i = 0; i < 5; ++i) five += line;
  ASSERT_EQ(Read(path), five);
  ASSERT_TRUE(record.Append(Result(UpdateOutcome::DaroFailure, false, false)));
  EXPECT_EQ(Read(dir.path() + "/updates.1.csv"), five);
  EXPECT_EQ(Read(path), header + line);
  // The next turn replaces the older file.
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(record.Append(Result(UpdateOutcome::DaroFailure, false, false)));
  EXPECT_EQ(Read(dir.path() + "/updates.1.csv"), five);
  EXPECT_EQ(Read(path), header + line);
  // A file begun by a version with fewer columns is put aside, not added to.
  const std::string older = "time_utc,port,outcome,packet,offset_s,set_to\r\nline\r\n";
  std::ofstream(path, std::ios::binary) << older;
  ASSERT_TRUE(record.Append(Result(UpdateOutcome::DaroFailure, false, false)));
  EXPECT_EQ(Read(dir.path() + "/updates.1.csv"), older);
  EXPECT_EQ(Read(path), header + line);
}

TEST(UpdateRecordFile, ItsLastLineIsReadBack) {
  TempDir dir;
  const std::string path = dir.path() + "/updates.csv";
  LastAttempt last;
  EXPECT_FALSE(ReadLastAttempt(path, &last));
  UpdateRecord record(path);
  AttemptResult failed = Result(UpdateOutcome::ComFailure, false, false);
  failed.portError = "a \"quoted\", odd text";
  ASSERT_TRUE(record.Append(failed));
  ASSERT_TRUE(ReadLastAttempt(path, &last));
  EXPECT_EQ(std::tie(last.outcome, last.endedNs, last.offsetKnown, last.reason),
            std::make_tuple(UpdateOutcome::ComFailure, kEnded, false,
                            std::string("port COM3: a \"quoted\", odd text")));
  ASSERT_TRUE(record.Append(Result(UpdateOutcome::Success, true, true, -0.473012)));
  ASSERT_TRUE(ReadLastAttempt(path, &last));
  EXPECT_EQ(std::tie(last.outcome, last.offsetKnown, last.offsetSeconds, last.reason),
            std::make_tuple(UpdateOutcome::Success, true, -0.473012, std::string()));
}

TEST(UpdateRecordFile, TwoWritersInTurnKeepEveryLineTheRotationKeeps) {
  // The window program and the service append to one record through its rotations: a file holds
  // five lines (as above) before the next line begins another, so after 400 lines the older file
  // holds five and the newer five. A line appended past a rotation, or an older file removed by
  // the other writer's rotation, shows as another count.
  const std::string line = RecordLine(Result(UpdateOutcome::DaroFailure, false, false));
  for (int trial = 0; trial < 10; ++trial) {
    TempDir dir;
    const std::string path = dir.path() + "/updates.csv";
    auto write = [&] {
      UpdateRecord record(path, 320);
      for (int i = 0; i < 200; ++i) record.Append(Result(UpdateOutcome::DaroFailure, false, false));
    };
    std::thread other(write);
    write();
    other.join();
    const std::string both = Read(dir.path() + "/updates.1.csv") + Read(path);
    std::size_t lines = 0;
    for (auto at = both.find(line); at != std::string::npos; at = both.find(line, at + 1)) ++lines;
    ASSERT_EQ(lines, 10u) << "trial " << trial;
  }
}

TEST(UpdateRecordFile, AWriteThatFailsSaysWhyAndLeavesNoPartOfTheLine) {
  TempDir dir;
  const AttemptResult result = Result(UpdateOutcome::Success, true, true);
  const std::string path = dir.path() + "/updates.csv";
  const std::string target = dir.path() + "/elsewhere.csv";
  ASSERT_EQ(symlink(target.c_str(), (dir.path() + "/link.csv").c_str()), 0);
  const struct {
    std::string path;
    const char* failure;
  } refused[] = {
      {dir.path() + "/no/such/folder/updates.csv", "its lock file: No such file or directory"},
      {dir.path(), "it is not a regular file"},
      {dir.path() + "/link.csv", "it is a symbolic link"},  // and the file it names is not made
  };
  for (const auto& r : refused) {
    UpdateRecord record(r.path);
    EXPECT_FALSE(record.Append(result)) << r.path;
    EXPECT_EQ(record.Failure(), r.failure) << r.path;
  }
  EXPECT_NE(access(target.c_str(), F_OK), 0);

  // The lock file is its writers' alone.
  UpdateRecord record(path);
  ASSERT_TRUE(record.Append(result));
  struct stat status {};
  ASSERT_EQ(stat((dir.path() + "/updates.lock").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);

  // A full disk, as a file size limit shows it: what was written of the line is taken back.
  const std::string before = Read(path);
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit full{before.size() + 10, limit.rlim_max};
  void (*const told)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
  const bool appended = record.Append(result);
  setrlimit(RLIMIT_FSIZE, &limit);
  signal(SIGXFSZ, told);
  EXPECT_FALSE(appended);
  EXPECT_EQ(record.Failure(), "File too large");
  EXPECT_EQ(Read(path), before);
}

TEST(TipText, SaysTheLastOutcomeUnderTheProgramsName) {
  EXPECT_EQ(TipText(nullptr, "09:23:49"), "ClockAgent");
  const AttemptResult behind = Result(UpdateOutcome::Success, true, true, 0.473);
  EXPECT_EQ(TipText(&behind, "09:23:49"), "ClockAgent\nUpdated 09:23:49: clock was 0.473000 s behind");
  const AttemptResult ahead = Result(UpdateOutcome::Success, true, true, -0.000012);
  EXPECT_EQ(TipText(&ahead, "10:00:00"), "ClockAgent\nUpdated 10:00:00: clock was 0.000012 s ahead");
  AttemptResult held = ahead;
  held.disciplined = true;
  held.ratePpm = -100.0124;
  EXPECT_EQ(TipText(&held, "10:00:00"),
            "ClockAgent\nUpdated 10:00:00: clock was 0.000012 s ahead\nHeld at rate -100.012 ppm");
  for (auto outcome : {UpdateOutcome::ComFailure, UpdateOutcome::DaroFailure,
                       UpdateOutcome::SystemUpdateFailure, UpdateOutcome::BadTime}) {
    const AttemptResult failed = Result(outcome, false, false);
    EXPECT_EQ(TipText(&failed, "09:23:49"),
              std::string("ClockAgent\n") + StatusText(outcome) + " at 09:23:49");
  }
  EXPECT_EQ(LocalTimeText(kEnded).size(), 8u);
}

}  // namespace
}  // namespace clockagent::test
