// DARO framing: receive state machine and transmit encoder.
#include "receiver/daro_link.h"

#include "receiver/serial_port.h"

namespace clockagent {

int ParseByte(ReceiverLink& link) {
  const std::uint8_t b = link.rxBuffer[link.rxPos];
  ++link.rxPos;
  --link.rxRemaining;

  // A full buffer throws the packet away before anything else is stored.
  if (link.packetCount >= static_cast<std::int32_t>(kPacketBufferSize)) {
    link.packetCount = 0;
    link.packetId = 0;
    link.afterDle = 0;
    link.inPacket = 0;
  }

  if (!link.afterDle) {
    if (b == kDle) {
      link.afterDle = 1;
      // The block was read once its last byte had arrived; each byte before that began one
      // character time earlier than the one after it.
      const std::int64_t before = (static_cast<std::int64_t>(link.rxRemaining) + 1) *
                                  link.characterTimeNs;
      link.dleArrival.systemNs = link.blockArrival.systemNs - before;
      link.dleArrival.monotonicNs = link.blockArrival.monotonicNs - before;
      link.dleSlackNs = link.blockSlackNs;
    } else {
      link.packetBuffer[link.packetCount++] = b;
    }
    return 0;
  }

  link.afterDle = 0;
  if (b == kDle) {  // stuffed data byte
    link.packetBuffer[link.packetCount++] = kDle;
    return 0;
  }
  if (b == kEtx) {
    if (!link.inPacket) link.packetId = 0;
    link.packetLength = static_cast<std::uint32_t>(link.packetCount);
    link.packetCount = 0;
    link.inPacket = 0;
    return 1;
  }
  // Any other byte after a DLE starts a new packet with that id.
  link.packetCount = 0;
  link.packetId = b;
  link.inPacket = 1;
  link.packetArrival = link.dleArrival;
  link.packetSlackNs = link.dleSlackNs;
  return 0;
}

int EncodeFrame(std::size_t length, const std::uint8_t* bytes,
                std::uint8_t (&frame)[kFrameBufferSize]) {
  std::size_t needed = length + 3;
  for (std::size_t i = 0; i < length; ++i) {
    if (bytes[i] == kDle) ++needed;
  }
  if (needed > kFrameBufferSize) return -1;

  std::size_t n = 0;
  frame[n++] = kDle;
  for (std::size_t i = 0; i < length; ++i) {
    if (bytes[i] == kDle) frame[n++] = kDle;
    frame[n++] = bytes[i];
  }
  frame[n++] = kDle;
  frame[n++] = kEtx;
  return static_cast<int>(n);
}

int WritePacket(std::size_t length, const std::uint8_t* bytes, ReceiverLink& link) {
  std::uint8_t frame[kFrameBufferSize];
  const int frameLength = EncodeFrame(length, bytes, frame);
  if (frameLength < 0) return -1;
  if (link.port != nullptr) link.port->Write(frame, static_cast<std::size_t>(frameLength));
  return 0;
}

void SendPacket(ReceiverLink& link, std::size_t length, const std::uint8_t* bytes) {
  WritePacket(length, bytes, link);
}

}  // namespace clockagent
