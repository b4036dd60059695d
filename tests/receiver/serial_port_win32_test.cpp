// The Win32 serial port and clock setter, run under wine with COM ports mapped to simulated
// receivers by scripts/wine-test.sh:
//   COM3   answers requests with 2003-01-08T11:59:47Z (offset 13)
//   COM5   the same, but only at 38400 baud, odd parity, two stop bits
//   COM7   answers with noise first and one byte every 5 ms
//   COM9   is held for itself alone by another program
//   COM12  broadcasts 0x8F-AB every second
//   COM19  is not mapped
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <memory>

#include "receiver/serial_link.h"
#include "receiver/system_serial_port.h"
#include "tests/support/test_support.h"
#include "tests/support/wine.h"

namespace clockagent::test {
namespace {

class Win32PortTest : public ::testing::Test, protected RecordedAttempt {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("CLOCKAGENT_WINE_HARNESS"), nullptr)
        << "needs the simulated receivers of scripts/wine-test.sh";
    link->port = port.get();
  }
  void TearDown() override { CloseLink(*link); }

  // One attempt as the update cycle makes it: open, prepare, then up to `polls` polls of
  // request and read, 200 ms apart.
  void Attempt(int portNumber, const SerialLineSettings& settings = {}, int polls = 30) {
    char name[kPortNameSize];
    FormatPortName(portNumber, name);
    ASSERT_EQ(OpenLink(*link, name), 0) << name;
    PrepareLink(*link, settings);
    sink.reports.clear();
    for (int i = 0; i < polls && sink.reports.empty(); ++i) {
      RequestTime(*link);
      ReadLink(*link, [this](ReceiverLink& l) {
        ++packetsSeen;
        if (l.packetLength > 1) ++readsWithData;
        DispatchPacket(l, context);
      });
      if (sink.reports.empty()) Sleep(200);
    }
    CloseLink(*link);
  }

  std::unique_ptr<SerialPort> port = NewSystemSerialPort();
  std::unique_ptr<ReceiverLink> link = std::make_unique<ReceiverLink>();
  int packetsSeen = 0;
  int readsWithData = 0;
};

TEST_F(Win32PortTest, RequestAndReplyOverCom3) {
  Attempt(3);
  EXPECT_EQ(ReportedTime(), "2003-01-08T11:59:47Z");
  EXPECT_EQ(TimesOfWeek(), std::vector<std::string>{" Wed 12:00:00.00"});
}

TEST_F(Win32PortTest, TwoDigitPortNumbersAndBroadcastTime) {
  Attempt(12, {}, 10);
  ASSERT_EQ(sink.reports.size(), 1u);
  EXPECT_EQ(sink.reports[0].packet, TimingPacket::Packet8FAB);
  EXPECT_EQ(link->packetId, 0x8F);
  EXPECT_EQ(link->packetLength, 17u);
}

TEST_F(Win32PortTest, LineSettingsReachTheLine) {
  Attempt(5, {}, 5);  // 9600, no parity, one stop bit: the receiver hears nothing it understands
  EXPECT_TRUE(sink.reports.empty());

  SerialLineSettings s;
  s.baudRateIndex = 4, s.parityIndex = 1, s.stopBitsIndex = 1;
  Attempt(5, s);
  EXPECT_EQ(ReportedTime(), "2003-01-08T11:59:47Z");
}

TEST_F(Win32PortTest, APacketTricklingInOverSeveralPollsCompletes) {
  Attempt(7);
  EXPECT_EQ(ReportedTime(), "2003-01-08T11:59:47Z");
}

TEST_F(Win32PortTest, APortHeldByAnotherProgramDoesNotOpen) {
  char name[kPortNameSize];
  FormatPortName(9, name);
  const HANDLE raw = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_EQ(raw, INVALID_HANDLE_VALUE);
  if (raw != INVALID_HANDLE_VALUE) CloseHandle(raw);
  EXPECT_EQ(OpenLink(*link, name), -1);
  EXPECT_EQ(link->isOpen, 0);
  EXPECT_EQ(CloseLink(*link), 0);
}

TEST_F(Win32PortTest, AMissingPortDoesNotOpen) {
  char name[kPortNameSize];
  FormatPortName(19, name);
  EXPECT_EQ(OpenLink(*link, name), -1);
  EXPECT_EQ(link->isOpen, 0);
  EXPECT_STREQ(port->LastErrorText(), "File not found.");  // the system's words, on one line
}

TEST_F(Win32PortTest, AClosedPortOpensAgain) {
  for (int i = 0; i < 3; ++i) {
    sink.reports.clear();
    Attempt(3);
    EXPECT_EQ(ReportedTime(), "2003-01-08T11:59:47Z") << "attempt " << i;
  }
}

TEST_F(Win32PortTest, NothingIsDispatchedAfterClose) {
  char name[kPortNameSize];
  FormatPortName(3, name);
  ASSERT_EQ(OpenLink(*link, name), 0);
  RequestTime(*link);
  CloseLink(*link);
  Sleep(300);
  ReadLink(*link, [this](ReceiverLink& l) { DispatchPacket(l, context); });
  EXPECT_TRUE(sink.reports.empty());
}

TEST(Win32ClockSetter, WineAcceptsOnlyTheTimeItAlreadyHas) {
  ASSERT_TRUE(UnderWine()) << "never run this on Windows itself: it would set the clock";
  SystemClockSetter clock;

  SYSTEMTIME now;
  GetSystemTime(&now);
  SystemTime same;
  same.wYear = now.wYear, same.wMonth = now.wMonth, same.wDay = now.wDay;
  same.wHour = now.wHour, same.wMinute = now.wMinute, same.wSecond = now.wSecond;
  same.wMilliseconds = now.wMilliseconds;
  EXPECT_TRUE(clock.Set(same));

  SystemTime past;
  past.wYear = 2003, past.wMonth = 1, past.wDay = 8, past.wHour = 11, past.wMinute = 59;
  past.wSecond = 47;
  EXPECT_FALSE(clock.Set(past));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));

  SystemTime asked;
  EXPECT_EQ(ApplyReceiverTime(726062387, clock, &asked), UpdateOutcome::SystemUpdateFailure);
}

}  // namespace
}  // namespace clockagent::test
