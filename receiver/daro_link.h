// DARO framing: the receiver link record, the receive state machine and the frame encoder.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "receiver/link_clock.h"
#include "receiver/nmea_link.h"

namespace clockagent {

class SerialPort;

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kEtx = 0x03;

constexpr std::size_t kRxBlockSize = 8192;
constexpr std::size_t kPacketBufferSize = 512;
constexpr std::size_t kFrameBufferSize = 512;

// What the receiver speaks: DARO packets, asked for, or NMEA 0183 sentences, sent unasked.
enum class ReceiverProtocol : std::uint8_t { Daro, Nmea };

// The one link between the program and the receiver. Everything lives in fixed buffers here;
// nothing is allocated per byte, packet or read.
struct ReceiverLink {
  // Port side.
  SerialPort* port = nullptr;  // where frames are written; null writes nowhere
  std::uint8_t isOpen = 0;     // dispatch delivers packets only while this is set
  LinkClock* clock = &SystemLinkClock();  // arrival times and the pauses

  // Receive block: what one read delivered.
  std::uint8_t rxBuffer[kRxBlockSize] = {};
  std::int32_t rxPos = 0;          // next byte to parse
  std::uint32_t rxRemaining = 0;   // bytes of the block not yet parsed
  ClockReading blockArrival;       // when the block was read
  std::int64_t characterTimeNs = 0;  // how long one character takes on the line
  ClockReading emptyAt;            // the last moment the port was seen holding nothing
  // How much earlier than its stamp a byte of the block may have begun to arrive: the time since
  // the port was last seen empty less the time the block's bytes take on the line. A read that
  // comes late (the process held up) shows here, not in the stamps.
  std::int64_t blockSlackNs = 0;

  // Framing state.
  std::uint8_t packetBuffer[kPacketBufferSize] = {};  // de-stuffed data bytes, id not included
  std::int32_t packetCount = 0;    // bytes now in packetBuffer
  std::uint32_t packetLength = 0;  // data length of the last completed packet
  std::int32_t packetId = 0;       // id of the packet being received (or the last one); 0 after overflow
  std::uint8_t afterDle = 0;       // the previous byte was an unpaired DLE
  std::uint8_t inPacket = 0;       // a packet has begun and not yet ended
  ClockReading dleArrival;         // when the last DLE outside a pair began to arrive
  std::int64_t dleSlackNs = 0;     // ... and the slack of its block
  ClockReading packetArrival;      // when the first byte (the DLE) of the packet began to arrive
  std::int64_t packetSlackNs = 0;  // ... and the slack of its block

  // An NMEA receiver's bursts instead, for ReceiverProtocol::Nmea.
  ReceiverProtocol protocol = ReceiverProtocol::Daro;
  NmeaLinkState nmea;
};

// Parses the byte at rxBuffer[rxPos] and advances. Returns 1 when that byte completed a packet:
// packetId, packetLength and packetBuffer then describe it until the next byte is parsed. Bytes
// ended by DLE ETX with no packet start before them (a start lost to an overrun or a flush)
// complete with id 0, which no handler takes: they are no packet of the previous one's id.
int ParseByte(ReceiverLink& link);

// Parses what is left of the receive block, calling onPacket(link) for each completed packet, and
// rewinds rxPos for the next block. A remaining count that would run past the block is cut to it.
template <class OnPacket>
void RunReceiveLoop(ReceiverLink& link, OnPacket&& onPacket) {
  const std::uint32_t room = static_cast<std::uint32_t>(kRxBlockSize) -
                             static_cast<std::uint32_t>(link.rxPos);
  if (link.rxPos < 0 || link.rxPos > static_cast<std::int32_t>(kRxBlockSize)) {
    link.rxRemaining = 0;
  } else if (link.rxRemaining > room) {
    link.rxRemaining = room;
  }
  const bool nmea = link.protocol == ReceiverProtocol::Nmea;
  while (link.rxRemaining > 0) {
    if ((nmea ? ParseNmeaByte(link) : ParseByte(link)) > 0) onPacket(link);
  }
  link.rxPos = 0;
}

// Copies `length` bytes into the receive block, at most one block at a time, and runs the receive
// loop over each block. For byte streams that come from somewhere other than the port.
template <class OnPacket>
void ReceiveBytes(ReceiverLink& link, const std::uint8_t* bytes, std::size_t length,
                  OnPacket&& onPacket) {
  while (length > 0) {
    const std::size_t block = length < kRxBlockSize ? length : kRxBlockSize;
    std::memcpy(link.rxBuffer, bytes, block);
    link.rxPos = 0;
    link.rxRemaining = static_cast<std::uint32_t>(block);
    RunReceiveLoop(link, onPacket);
    bytes += block;
    length -= block;
  }
}

// Builds the frame for a payload (the id followed by the data bytes) into `frame`. Returns the
// frame's length, or -1 when the frame would not fit the buffer.
int EncodeFrame(std::size_t length, const std::uint8_t* bytes,
                std::uint8_t (&frame)[kFrameBufferSize]);

// Frames the payload and hands it to the link's port. Returns 0; a payload whose frame would
// exceed the frame buffer is not written at all and returns -1.
int WritePacket(std::size_t length, const std::uint8_t* bytes, ReceiverLink& link);

// Sends a packet. There is no pause after it: the answer is read the moment its bytes arrive (an
// attempt waits on the port between polls), and a pause would only make it wait in the driver,
// which blurs when it arrived and blocks the one thread.
void SendPacket(ReceiverLink& link, std::size_t length, const std::uint8_t* bytes);

}  // namespace clockagent
