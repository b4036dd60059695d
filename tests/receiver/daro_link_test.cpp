// The receive state machine and the frame encoder, byte for byte.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Counting(std::size_t n, std::uint8_t first = 0x20) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(first + i % 200);
  return bytes;  // 0x20..0xE7: never DLE or ETX
}

class FramingTest : public ::testing::Test {
 protected:
  std::vector<Packet> Parse(const Bytes& bytes, std::size_t blockSize = kRxBlockSize) {
    return ParsePackets(*link, bytes, blockSize);
  }
  std::unique_ptr<ReceiverLink> link = std::make_unique<ReceiverLink>();
};

TEST_F(FramingTest, ParseByteReportsCompletionOnTheEtxOnly) {
  const Bytes wire = Frame(0x41, Counting(10));
  ASSERT_EQ(wire.size(), 14u);
  std::copy(wire.begin(), wire.end(), link->rxBuffer);
  link->rxRemaining = static_cast<std::uint32_t>(wire.size());
  for (std::size_t i = 0; i < wire.size(); ++i) {
    EXPECT_EQ(ParseByte(*link), i + 1 == wire.size() ? 1 : 0) << "byte " << i;
    EXPECT_EQ(link->rxPos, static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(link->rxRemaining, wire.size() - i - 1);
  }
  EXPECT_EQ(link->packetId, 0x41);
  EXPECT_EQ(link->packetLength, 10u);
  EXPECT_EQ(link->packetCount, 0);
  EXPECT_EQ(Bytes(link->packetBuffer, link->packetBuffer + 10), Counting(10));
}

TEST_F(FramingTest, StuffedDleIsStoredOnce) {
  const auto packets = Parse({0x10, 0x41, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x03});
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], (Packet{0x41, {0x10, 0x10, 0x10}}));
}

TEST_F(FramingTest, EtxAndDleAsDataSurviveStuffing) {
  const Bytes data = {0x03, 0x10, 0x03, 0x10, 0x10, 0x00, 0xFF};
  const auto packets = Parse(Frame(0x8F, data));
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], (Packet{0x8F, data}));
}

TEST_F(FramingTest, StrayBytesBeforeAStartAreDiscarded) {
  // The tail of a packet cut off before the stream began, then a whole packet.
  const auto packets = Parse(Concat({{0x55, 0x66, 0x77}, Frame(0x41, Counting(10))}));
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], (Packet{0x41, Counting(10)}));
}

TEST_F(FramingTest, ABodyWhoseStartWasLostIsNoPacketOfThePreviousId) {
  const auto packets = Parse(Concat({Frame(0x41, Counting(10)), Counting(10), {0x10, 0x03}}));
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[1], (Packet{0, Counting(10)}));
}

TEST_F(FramingTest, DleWithAnyOtherByteAbandonsThePacketAndStartsANewOne) {
  const Bytes ab = {0xAB, 0, 3, 0xA9, 0x25, 8, 0x1C, 0, 0x12, 0, 0, 0, 0, 0, 0, 0, 0};
  const auto packets = Parse(Concat({{0x10, 0x41, 0x01, 0x02}, Frame(0x8F, ab)}));
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], (Packet{0x8F, ab}));
}

TEST_F(FramingTest, OverflowResetsCountAndIdAtThe513thDataByte) {
  const Bytes data = Counting(600);
  const auto packets = Parse(Frame(0x41, data));
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].id, 0);
  ASSERT_EQ(packets[0].data.size(), 88u);
  EXPECT_EQ(packets[0].data, Bytes(data.begin() + 512, data.end()));
}

TEST_F(FramingTest, LongestPacketIs511DataBytes) {
  auto packets = Parse(Frame(0x41, Counting(511)));
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], (Packet{0x41, Counting(511)}));

  // With 512 the buffer is full when the closing DLE arrives: the guard drops the data and the
  // id, and the DLE ETX completes an empty packet under id 0.
  packets = Parse(Frame(0x41, Counting(512)));
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], (Packet{0, {}}));
}

TEST_F(FramingTest, StuffedDleFillingTheLastSlotIsKept) {
  Bytes data = Counting(511);
  data.push_back(0x10);
  Parse(Frame(0x41, data));
  EXPECT_EQ(link->packetBuffer[511], 0x10);
}

TEST_F(FramingTest, PacketSplitAtAnyPointAcrossTwoReadsCompletesOnTheSecond) {
  const Bytes data = {0x48, 0x93, 0xA8, 0x10, 0x04, 0xB0, 0x41, 0x10, 0x03, 0x00};
  const Bytes wire = Frame(0x41, data);
  for (std::size_t cut = 1; cut < wire.size(); ++cut) {
    ReceiverLink& l = *link;
    l = ReceiverLink{};
    EXPECT_TRUE(ParsePackets(l, Bytes(wire.begin(), wire.begin() + static_cast<long>(cut))).empty())
        << "cut " << cut;
    const auto packets = ParsePackets(l, Bytes(wire.begin() + static_cast<long>(cut), wire.end()));
    ASSERT_EQ(packets.size(), 1u) << "cut " << cut;
    EXPECT_EQ(packets[0], (Packet{0x41, data})) << "cut " << cut;
  }
}

TEST_F(FramingTest, BlockSizeDoesNotChangeWhatIsParsed) {
  std::mt19937 random(7);
  Bytes stream;
  for (int i = 0; i < 300; ++i) {
    Bytes data(random() % 40);
    for (auto& b : data) b = static_cast<std::uint8_t>(random() % 4 == 0 ? 0x10 : random());
    const Bytes frame = Frame(static_cast<std::uint8_t>(0x20 + random() % 0x60), data);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  const auto whole = Parse(stream);
  ASSERT_EQ(whole.size(), 300u);
  for (std::size_t blockSize : {1u, 2u, 3u, 13u, 512u, 8191u}) {
    ReceiverLink& l = *link;
    l = ReceiverLink{};
    EXPECT_EQ(ParsePackets(l, stream, blockSize), whole) << "block " << blockSize;
  }
}

TEST_F(FramingTest, ReceiveLoopParsesTheWholeBlockAndRewinds) {
  Bytes block;
  while (block.size() + 14 <= kRxBlockSize) {
    const Bytes frame = Frame(0x41, Counting(10));
    block.insert(block.end(), frame.begin(), frame.end());
  }
  std::copy(block.begin(), block.end(), link->rxBuffer);
  link->rxRemaining = static_cast<std::uint32_t>(block.size());
  int completed = 0;
  RunReceiveLoop(*link, [&](ReceiverLink&) { ++completed; });
  EXPECT_EQ(completed, static_cast<int>(block.size() / 14));
  EXPECT_EQ(link->rxPos, 0);
  EXPECT_EQ(link->rxRemaining, 0u);
}

TEST_F(FramingTest, ReceiveLoopNeverReadsPastTheBlock) {
  link->rxPos = 8000;
  link->rxRemaining = 100000;  // more than the block holds
  RunReceiveLoop(*link, [](ReceiverLink&) {});
  EXPECT_EQ(link->rxPos, 0);
  EXPECT_EQ(link->rxRemaining, 0u);

  link->rxPos = -5;
  link->rxRemaining = 10;
  RunReceiveLoop(*link, [](ReceiverLink&) {});
  EXPECT_EQ(link->rxPos, 0);
  EXPECT_EQ(link->rxRemaining, 0u);
}

class EncodingTest : public ::testing::Test {
 protected:
  Bytes Written(const Bytes& payload, int expectedResult = 0) {
    EXPECT_EQ(WritePacket(payload.size(), payload.data(), *link), expectedResult);
    if (port.writes.empty()) return {};
    EXPECT_EQ(port.writes.size(), 1u);
    Bytes frame = port.writes.back();
    port.writes.clear();
    return frame;
  }
  RecordingPort port;
  std::unique_ptr<ReceiverLink> link = [this] {
    auto l = std::make_unique<ReceiverLink>();
    l->port = &port;
    return l;
  }();
};

TEST_F(EncodingTest, FramesAsOnTheWire) {
  EXPECT_EQ(Written({0x21}), (Bytes{0x10, 0x21, 0x10, 0x03}));
  EXPECT_EQ(Written({0x21, 0x10}), (Bytes{0x10, 0x21, 0x10, 0x10, 0x10, 0x03}));
  EXPECT_EQ(Written({}), (Bytes{0x10, 0x10, 0x03}));
  EXPECT_EQ(Written({0x8E, 0x03, 0x10, 0xAB}),
            (Bytes{0x10, 0x8E, 0x03, 0x10, 0x10, 0xAB, 0x10, 0x03}));
}

TEST_F(EncodingTest, FramesUpToTheBufferAreWrittenWholeAndLongerOnesNotAtAll) {
  EXPECT_EQ(Written(Bytes(254, 0x10)).size(), 511u);
  EXPECT_EQ(Written(Counting(509)).size(), 512u);
  EXPECT_EQ(Written(Bytes(255, 0x10), -1), Bytes{});
  EXPECT_EQ(Written(Counting(510), -1), Bytes{});
  EXPECT_TRUE(port.writes.empty());
}

TEST_F(EncodingTest, EncodedPacketsParseBackToTheSamePayload) {
  std::mt19937 random(11);
  auto receiver = std::make_unique<ReceiverLink>();
  for (int i = 0; i < 500; ++i) {
    std::uint8_t id;
    do id = static_cast<std::uint8_t>(random()); while (id == kDle || id == kEtx);
    Bytes payload(1 + random() % 200);
    payload[0] = id;
    for (std::size_t k = 1; k < payload.size(); ++k) {
      payload[k] = static_cast<std::uint8_t>(random() % 3 == 0 ? 0x10 : random());
    }
    const auto packets = ParsePackets(*receiver, Written(payload));
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], (Packet{id, Bytes(payload.begin() + 1, payload.end())}));
  }
}

TEST_F(EncodingTest, WithoutAPortNothingIsWrittenAndTheResultIsStillZero) {
  link->port = nullptr;
  const std::uint8_t request[] = {0x21};
  EXPECT_EQ(WritePacket(1, request, *link), 0);
  EXPECT_TRUE(port.writes.empty());
}

}  // namespace
}  // namespace clockagent::test
