// The serial channel over a port in memory: call order, settings applied, what is read.
#include <gtest/gtest.h>

#include <memory>

#include "receiver/serial_link.h"
#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

class SerialLinkTest : public ::testing::Test {
 protected:
  SerialLinkTest() { link->port = &port; }

  int Read() {
    return ReadLink(*link, [this](ReceiverLink& l) {
      completed.push_back(Packet{l.packetId, Bytes(l.packetBuffer, l.packetBuffer + l.packetLength)});
    });
  }

  std::unique_ptr<ReceiverLink> link = std::make_unique<ReceiverLink>();
  RecordingPort port;
  std::vector<Packet> completed;
};

TEST_F(SerialLinkTest, APacketIsStampedWhenItsFirstByteBeganToArrive) {
  FakeLinkClock clock;
  link->clock = &clock;
  link->characterTimeNs = 1000;
  std::vector<ClockReading> stamps;
  const auto read = [&] {
    ReadLink(*link, [&](ReceiverLink& l) { stamps.push_back(l.packetArrival); });
  };
  // Three noise bytes and a packet of 14 in one read: the read comes when the last has arrived,
  // so the packet's DLE, 14 bytes from the end, began 14 character times before it.
  const Bytes packet = Frame(0x41, Bytes(10, 0x55));
  port.incoming = {1, 2, 3};
  port.incoming.insert(port.incoming.end(), packet.begin(), packet.end());
  clock.now = ClockReading{1'000'000, 2'000'000};
  read();
  // A DLE that ends one read begins the packet completed by the next: its own read counts.
  port.incoming = {0x10};
  clock.now = ClockReading{5'000'000, 6'000'000};
  read();
  port.incoming.assign(packet.begin() + 1, packet.end());
  clock.now = ClockReading{9'000'000, 9'500'000};
  read();
  ASSERT_EQ(stamps.size(), 2u);
  EXPECT_EQ(stamps[0].systemNs, 1'000'000 - 14 * 1000);
  EXPECT_EQ(stamps[0].monotonicNs, 2'000'000 - 14 * 1000);
  EXPECT_EQ(stamps[1].systemNs, 5'000'000 - 1000);
  EXPECT_EQ(stamps[1].monotonicNs, 6'000'000 - 1000);
}

TEST(LineSettings, ACharacterTakesItsBitsAtTheLineRate) {
  LineParameters line;  // 9600 baud, 8 data bits, no parity, one stop bit: 10 bits
  EXPECT_EQ(CharacterTimeNs(line), 1041666);
  line.baudRate = 38400, line.dataBits = 7, line.parity = kEvenParity,
  line.stopBits = kTwoStopBits;  // 11 bits
  EXPECT_EQ(CharacterTimeNs(line), 286458);
}

TEST(PortNames, AreInTheDeviceNamespace) {
  char name[kPortNameSize];
  FormatPortName(12, name);
  EXPECT_STREQ(name, "\\\\.\\COM12");
  FormatPortName(3, name);
  EXPECT_STREQ(name, "\\\\.\\COM3");
  // A device path stands instead of the number; users know either by its plain name.
  PortChoice port;
  port.number = 7;
  PortOpenName(port, name);
  EXPECT_STREQ(name, "\\\\.\\COM7");
  EXPECT_EQ(PortDisplayName(port), "COM7");
  port.device = "/dev/ttyUSB0";
  PortOpenName(port, name);
  EXPECT_STREQ(name, "/dev/ttyUSB0");
  EXPECT_EQ(PortDisplayName(port), "/dev/ttyUSB0");
}

TEST(LineSettings, IndexesStandForTheirListsValues) {
  SerialLineSettings s;  // the lists as the main window starts them
  LineParameters p = LineParametersOf(s);
  EXPECT_EQ(p.baudRate, 9600u);
  EXPECT_EQ(p.dataBits, 8);
  EXPECT_EQ(p.parity, kNoParity);
  EXPECT_EQ(p.stopBits, kOneStopBit);

  s.baudRateIndex = 4, s.dataBitsIndex = 0, s.parityIndex = 2, s.stopBitsIndex = 1;
  p = LineParametersOf(s);
  EXPECT_EQ(p.baudRate, 38400u);
  EXPECT_EQ(p.dataBits, 7);
  EXPECT_EQ(p.parity, 2);
  EXPECT_EQ(p.stopBits, 2);

  const std::uint32_t bauds[] = {2400, 4800, 9600, 19200, 38400};
  for (int i = 0; i < 5; ++i) {
    s.baudRateIndex = i;
    EXPECT_EQ(LineParametersOf(s).baudRate, bauds[i]);
  }
  s.parityIndex = 1;
  EXPECT_EQ(LineParametersOf(s).parity, kOddParity);
}

TEST(LineSettings, AnIndexOutsideItsListAppliesTheValueOfTheOpen) {
  SerialLineSettings s;
  s.baudRateIndex = 5, s.dataBitsIndex = -1, s.parityIndex = 3, s.stopBitsIndex = 1;
  const LineParameters p = LineParametersOf(s);
  EXPECT_EQ(p.baudRate, 9600u);
  EXPECT_EQ(p.dataBits, 8);
  EXPECT_EQ(p.parity, kNoParity);
  EXPECT_EQ(p.stopBits, kTwoStopBits);  // a valid index is still honoured
}

TEST_F(SerialLinkTest, OpenStartsTheFramerAfresh) {
  link->rxPos = 9, link->rxRemaining = 4, link->packetCount = 7, link->packetLength = 3;
  link->afterDle = 1, link->packetId = 0x41;
  ASSERT_EQ(OpenLink(*link, "\\\\.\\COM3"), 0);
  EXPECT_EQ(link->isOpen, 1);
  EXPECT_EQ(link->rxPos, 0);
  EXPECT_EQ(link->rxRemaining, 0u);
  EXPECT_EQ(link->packetCount, 0);
  EXPECT_EQ(link->packetLength, 0u);
  EXPECT_EQ(link->afterDle, 0);
  EXPECT_EQ(link->packetId, 0);
  EXPECT_EQ(port.calls, std::vector<std::string>{"Open \\\\.\\COM3"});

  // A body and DLE ETX right after the open, its start lost: no packet of the old id.
  port.incoming = {1, 2, 3, 0x10, 0x03};
  Read();
  EXPECT_EQ(completed, std::vector<Packet>{(Packet{0, {1, 2, 3}})});
}

TEST_F(SerialLinkTest, FailedOpenLeavesTheLinkClosedAndCloseMakesNoPortCall) {
  port.opens = false;
  EXPECT_EQ(OpenLink(*link, "\\\\.\\COM9"), -1);
  EXPECT_EQ(link->isOpen, 0);
  EXPECT_EQ(CloseLink(*link), 0);
  EXPECT_EQ(port.calls, std::vector<std::string>{"Open \\\\.\\COM9"});
}

TEST_F(SerialLinkTest, OpeningAnOpenLinkClosesTheOldPortFirst) {
  ASSERT_EQ(OpenLink(*link, "\\\\.\\COM1"), 0);
  ASSERT_EQ(OpenLink(*link, "\\\\.\\COM2"), 0);
  EXPECT_EQ(port.calls,
            (std::vector<std::string>{"Open \\\\.\\COM1", "Close", "Open \\\\.\\COM2"}));
}

TEST_F(SerialLinkTest, PrepareFlushesAppliesTheChosenSettingsAndDropsWhatCameMeanwhile) {
  ASSERT_EQ(OpenLink(*link, "\\\\.\\COM1"), 0);
  SerialLineSettings s;
  s.baudRateIndex = 4, s.parityIndex = 2, s.stopBitsIndex = 1;
  port.incoming = Frame(0x41, Bytes(10, 0x55));  // came while the line was being set up
  PrepareLink(*link, s);
  EXPECT_EQ(port.calls, (std::vector<std::string>{"Open \\\\.\\COM1", "Flush",
                                                  "SetLineParameters 38400 8 2 2", "QueuedBytes",
                                                  "Read 8192", "QueuedBytes"}));
  EXPECT_EQ(Read(), 0);
  EXPECT_TRUE(completed.empty());
  EXPECT_EQ(link->characterTimeNs, 312500);  // 12 bits at 38400 baud
}

TEST_F(SerialLinkTest, ReadWithNothingQueuedReadsNothing) {
  ASSERT_EQ(OpenLink(*link, "\\\\.\\COM1"), 0);
  port.incoming = {0x10, 0x41, 0x01};
  Read();
  port.calls.clear();
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(port.calls, std::vector<std::string>{"QueuedBytes"});
  EXPECT_EQ(link->packetCount, 1);
  EXPECT_EQ(link->packetId, 0x41);
  EXPECT_TRUE(completed.empty());
}

TEST_F(SerialLinkTest, EachReadTakesAtMostOneBlockAndParsesAllOfIt) {
  ASSERT_EQ(OpenLink(*link, "\\\\.\\COM1"), 0);
  const Bytes frame = Frame(0x41, Bytes(10, 0x55));  // 14 bytes
  for (int i = 0; i < 1000; ++i) port.incoming.insert(port.incoming.end(), frame.begin(), frame.end());
  Read();
  EXPECT_EQ(port.calls.back(), "Read 8192");
  EXPECT_EQ(port.incoming.size(), 14000u - 8192u);
  EXPECT_EQ(completed.size(), 8192u / 14);
  EXPECT_EQ(link->rxPos, 0);
  Read();
  EXPECT_TRUE(port.incoming.empty());
  EXPECT_EQ(completed.size(), 1000u);
}

TEST_F(SerialLinkTest, CloseClearsIsOpenSoNothingMoreIsDispatched) {
  ASSERT_EQ(OpenLink(*link, "\\\\.\\COM1"), 0);
  EXPECT_EQ(CloseLink(*link), 0);
  EXPECT_EQ(link->isOpen, 0);
  EXPECT_EQ(CloseLink(*link), 0);
  EXPECT_EQ(port.calls, (std::vector<std::string>{"Open \\\\.\\COM1", "Close"}));
}

}  // namespace
}  // namespace clockagent::test
