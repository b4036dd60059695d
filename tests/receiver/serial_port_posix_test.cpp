// The POSIX serial port and the receiver link over a real pty; the test plays the receiver.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "receiver/receiver_search.h"
#include "receiver/serial_link.h"
#include "receiver/system_serial_port.h"
#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

const Bytes kWeek1200Noon41 = {0x48, 0x93, 0xA8, 0x00, 0x04, 0xB0, 0x41, 0x50, 0x00, 0x00};

class PtyTest : public ::testing::Test, protected RecordedAttempt {
 protected:
  void SetUp() override {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    path = ptsname(master);
    link->port = port.get();
  }
  void TearDown() override {
    CloseLink(*link);
    close(master);
  }

  void Send(const Bytes& bytes) {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // What the program wrote, as the receiver sees it, waiting up to a second for `n` bytes.
  Bytes Received(std::size_t n) {
    Bytes got;
    while (got.size() < n) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) break;
      std::uint8_t buffer[256];
      const ssize_t r = read(master, buffer, sizeof buffer);
      if (r <= 0) break;
      got.insert(got.end(), buffer, buffer + r);
    }
    return got;
  }

  // Polls as the update cycle does, every 20 ms, until a packet completes or `polls` pass.
  std::vector<Packet> Poll(int polls) {
    std::vector<Packet> packets;
    for (int i = 0; i < polls && packets.empty(); ++i) {
      ReadLink(*link, [&](ReceiverLink& l) {
        packets.push_back(Packet{l.packetId, Bytes(l.packetBuffer, l.packetBuffer + l.packetLength)});
        DispatchPacket(l, context);
      });
      if (packets.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return packets;
  }

  int master = -1;
  std::string path;
  std::unique_ptr<SerialPort> port = NewSystemSerialPort();
  std::unique_ptr<ReceiverLink> link = std::make_unique<ReceiverLink>();
};

TEST_F(PtyTest, OnlyAnExistingTerminalOpens) {
  EXPECT_EQ(OpenLink(*link, "/nonexistent/ttyS99"), -1);
  EXPECT_EQ(link->isOpen, 0);
  EXPECT_EQ(OpenLink(*link, CLOCKAGENT_CAPTURES_DIR "/README.md"), -1);
  EXPECT_EQ(OpenLink(*link, "\\\\.\\COM1"), -1);
  EXPECT_EQ(OpenLink(*link, path.c_str()), 0);
  EXPECT_EQ(link->isOpen, 1);
}

TEST_F(PtyTest, RequestGoesOutAndTheReplyIsReadAndDispatched) {
  ASSERT_EQ(OpenLink(*link, path.c_str()), 0);
  PrepareLink(*link, SerialLineSettings{});
  RequestTime(*link);
  EXPECT_EQ(Received(4), (Bytes{0x10, 0x21, 0x10, 0x03}));

  Send(Frame(0x41, kWeek1200Noon41));
  ASSERT_EQ(Poll(50).size(), 1u);
  EXPECT_EQ(ReportedTime(), "2003-01-08T11:59:47Z");
}

TEST_F(PtyTest, APacketSplitAcrossPollsCompletesOnTheLast) {
  ASSERT_EQ(OpenLink(*link, path.c_str()), 0);
  const Bytes wire = Frame(0x8F, {0xAB, 0x00, 0x04, 0x9D, 0x40, 0x04, 0xB0, 0x00, 0x0D, 0, 0, 0,
                                  0, 0, 0, 0, 0x10});
  for (std::size_t i = 0; i + 1 < wire.size(); ++i) {
    Send({wire[i]});
    EXPECT_TRUE(Poll(3).empty()) << "after byte " << i;
  }
  Send({wire.back()});
  const auto packets = Poll(50);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].data.size(), 17u);
  EXPECT_EQ(sink.reports.size(), 1u);
}

TEST_F(PtyTest, ALongStreamArrivesWholeInBlocks) {
  ASSERT_EQ(OpenLink(*link, path.c_str()), 0);
  Bytes stream;
  for (int i = 0; i < 2000; ++i) {
    const Bytes frame = Frame(0x6D, Bytes(20, static_cast<std::uint8_t>(i)));  // some hold 0x10
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  std::thread receiver([&] {
    for (std::size_t at = 0; at < stream.size(); at += 1000) {
      const std::size_t n = std::min<std::size_t>(1000, stream.size() - at);
      std::size_t done = 0;
      while (done < n) {
        const ssize_t w = write(master, stream.data() + at + done, n - done);
        if (w > 0) done += static_cast<std::size_t>(w);
      }
    }
  });
  std::vector<Packet> packets;
  for (int polls = 0; polls < 2000 && packets.size() < 2000; ++polls) {
    ReadLink(*link, [&](ReceiverLink& l) {
      packets.push_back(Packet{l.packetId, Bytes(l.packetBuffer, l.packetBuffer + l.packetLength)});
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  receiver.join();
  ASSERT_EQ(packets.size(), 2000u);
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(packets[static_cast<std::size_t>(i)],
              (Packet{0x6D, Bytes(20, static_cast<std::uint8_t>(i))}));
  }
}

TEST_F(PtyTest, ASecondOpenOfAnOpenPortFailsUntilItIsClosed) {
  ASSERT_EQ(OpenLink(*link, path.c_str()), 0);
  auto other = NewSystemSerialPort();
  EXPECT_FALSE(other->Open(path.c_str()));
  // Another program that does not take the lock is kept out too.
  const int plain = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_LT(plain, 0);
  if (plain >= 0) close(plain);

  CloseLink(*link);
  EXPECT_TRUE(other->Open(path.c_str()));
  other->Close();
  EXPECT_EQ(OpenLink(*link, path.c_str()), 0);  // and again for the next attempt
}

// Stops a search as its second trial begins.
struct StopAtSecondTrial final : SearchObserver {
  void TrialBegan(const PortChoice&, int trial) override { stop = trial > 0; }
  void PortSearched(const PortFinding&) override {}
  std::atomic<bool> stop{false};
};

TEST_F(PtyTest, ASearchLeavesThePortAsItFoundIt) {
  // A terminal held at 115200 baud, cooked (a pty keeps no parity).
  termios held{};
  ASSERT_EQ(tcgetattr(master, &held), 0);
  cfsetspeed(&held, B115200);
  held.c_lflag |= ICANON | ECHO;
  ASSERT_EQ(tcsetattr(master, TCSANOW, &held), 0);
  StopAtSecondTrial observer;
  PortChoice choice;
  choice.device = path;
  EXPECT_EQ(SearchPort(*port, SystemLinkClock(), choice, observer.stop, observer).verdict,
            PortVerdict::Stopped);
  termios after{};
  ASSERT_EQ(tcgetattr(master, &after), 0);
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B115200));
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
}

TEST_F(PtyTest, ChosenLineSettingsReachTheTerminal) {
  ASSERT_EQ(OpenLink(*link, path.c_str()), 0);
  termios t{};
  ASSERT_EQ(tcgetattr(master, &t), 0);  // a pty's master reports its slave's settings
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_lflag & ICANON, 0u);

  SerialLineSettings s;
  s.baudRateIndex = 4, s.dataBitsIndex = 0, s.parityIndex = 2, s.stopBitsIndex = 1;
  PrepareLink(*link, s);
  ASSERT_EQ(tcgetattr(master, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B38400));
  // A pty keeps itself at 8 data bits without parity whatever it is told; the kind of parity
  // and the rest stay as set.
  EXPECT_FALSE(t.c_cflag & PARODD);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));

  s.parityIndex = 1;
  PrepareLink(*link, s);
  ASSERT_EQ(tcgetattr(master, &t), 0);
  EXPECT_TRUE(t.c_cflag & PARODD);
}

TEST_F(PtyTest, ControlBytesPassUnchanged) {
  ASSERT_EQ(OpenLink(*link, path.c_str()), 0);
  const Bytes data = {0x03, 0x0D, 0x0A, 0x11, 0x13, 0x7F, 0x04, 0x1A, 0x00, 0xFF, 0x10};
  Send(Frame(0x55, data));
  const auto packets = Poll(50);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], (Packet{0x55, data}));
}

TEST_F(PtyTest, ReadWithNothingQueuedLeavesTheFramingAlone) {
  ASSERT_EQ(OpenLink(*link, path.c_str()), 0);
  Send({0x10, 0x41, 0x01, 0x02});
  Poll(5);
  ASSERT_EQ(link->packetCount, 2);
  EXPECT_TRUE(Poll(3).empty());
  EXPECT_EQ(link->packetCount, 2);
  EXPECT_EQ(link->packetId, 0x41);
}

TEST_F(PtyTest, AfterCloseNothingIsReadOrDispatched) {
  ASSERT_EQ(OpenLink(*link, path.c_str()), 0);
  CloseLink(*link);
  Send(Frame(0x41, kWeek1200Noon41));
  EXPECT_TRUE(Poll(5).empty());
  EXPECT_TRUE(sink.reports.empty());
}

TEST_F(PtyTest, OpenDropsWhatArrivedBefore) {
  ASSERT_EQ(OpenLink(*link, path.c_str()), 0);
  CloseLink(*link);
  // Bytes the receiver sent while no attempt was running are purged by the next open.
  Send(Frame(0x41, kWeek1200Noon41));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(OpenLink(*link, path.c_str()), 0);
  EXPECT_TRUE(Poll(3).empty());
}

}  // namespace
}  // namespace clockagent::test
