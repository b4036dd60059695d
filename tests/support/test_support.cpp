// Shared test helpers.
#include "tests/support/test_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace clockagent::test {

std::vector<std::string> CaptureNames() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(CLOCKAGENT_CAPTURES_DIR)) {
    if (entry.path().extension() == ".bin") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

Bytes ReadCapture(const std::string& name) {
  const std::string path = std::string(CLOCKAGENT_CAPTURES_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << path;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Packet> ParsePackets(ReceiverLink& link, const Bytes& bytes, std::size_t blockSize) {
  std::vector<Packet> packets;
  for (std::size_t at = 0; at < bytes.size(); at += blockSize) {
    const std::size_t n = std::min(blockSize, bytes.size() - at);
    ReceiveBytes(link, bytes.data() + at, n, [&](ReceiverLink& completed) {
      packets.push_back(Packet{completed.packetId,
                               Bytes(completed.packetBuffer,
                                     completed.packetBuffer + completed.packetLength)});
    });
  }
  return packets;
}

Bytes Frame(std::uint8_t id, const Bytes& data) {
  Bytes wire = {kDle, id};
  for (std::uint8_t b : data) {
    if (b == kDle) wire.push_back(kDle);
    wire.push_back(b);
  }
  wire.push_back(kDle);
  wire.push_back(kEtx);
  return wire;
}

bool RecordingPort::Open(const char* name) {
  calls.push_back(std::string("Open ") + name);
  return opens;
}

bool RecordingPort::SetLineParameters(const LineParameters& p) {
  calls.push_back("SetLineParameters " + std::to_string(p.baudRate) + " " +
                  std::to_string(p.dataBits) + " " + std::to_string(p.parity) + " " +
                  std::to_string(p.stopBits));
  return true;
}

std::uint32_t RecordingPort::QueuedBytes() {
  calls.push_back("QueuedBytes");
  return static_cast<std::uint32_t>(incoming.size());
}

std::uint32_t RecordingPort::Read(std::uint8_t* buffer, std::uint32_t size) {
  calls.push_back("Read " + std::to_string(size));
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(size, incoming.size()));
  std::copy(incoming.begin(), incoming.begin() + n, buffer);
  incoming.erase(incoming.begin(), incoming.begin() + n);
  return n;
}

void RecordingPort::Write(const std::uint8_t* frame, std::size_t length) {
  calls.push_back("Write");
  writes.emplace_back(frame, frame + length);
}

std::string Iso(const SystemTime& time) {
  char text[kIsoTimeTextSize];
  FormatIsoTime(time, text);
  return text;
}

}  // namespace clockagent::test
