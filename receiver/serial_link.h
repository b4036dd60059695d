// The serial channel of the receiver link: open with the chosen line settings, read and parse,
// close. The port itself is reached through the link's SerialPort.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "receiver/daro_link.h"
#include "receiver/line_settings.h"
#include "receiver/serial_port.h"

namespace clockagent {

// "\\.\COM%d": port 7 is \\.\COM7, COM7 in the Windows device namespace.
constexpr std::size_t kPortNameSize = 260;  // room for a device path as well
void FormatPortName(int portNumber, char (&name)[kPortNameSize]);

// The port an attempt opens: a number of the window's list, or a device that stands instead.
struct PortChoice {
  int number = 1;      // COM1 to COM20; what the settings keep as "COM%d"
  std::string device;  // a device path (the console tool's --port on Linux); empty: the number's
};

// The name the port is opened under: the device, or "\\.\COM%d" of the number. False, with an
// empty name, for a device whose name does not fit: cut short, it could name another device.
bool PortOpenName(const PortChoice& port, char (&name)[kPortNameSize]);
constexpr char kLongPortNameText[] = "the name is longer than 259 bytes";
static_assert(kPortNameSize == 260, "kLongPortNameText says how long a name may be");
// The name a user knows it by: the device, or "COM%d" of the number.
std::string PortDisplayName(const PortChoice& port);

// The pause on each side of applying the line settings: long enough for a UART or a USB adapter
// to settle on a new rate, short against the 200 ms receive poll.
constexpr std::chrono::milliseconds kLineSettlePause{10};

// How long a character of these line settings takes on the line: a start bit, the data bits, a
// parity bit if any, and the stop bits.
std::int64_t CharacterTimeNs(const LineParameters& line);

// Forgets any packet begun: what follows is parsed as if the line had just come up.
void ResetFraming(ReceiverLink& link);

// Resets the framing state and opens the port. Returns 0 with isOpen set, or
// -1 with isOpen clear. A link that is still open is closed first, so no port is ever lost.
int OpenLink(ReceiverLink& link, const char* portName);

// Right after a successful OpenLink: flush, then apply the chosen line settings between two short
// pauses, and drop what arrived meanwhile. A port that refuses them keeps those of the open, and
// the answer is false.
bool PrepareLink(ReceiverLink& link, const SerialLineSettings& settings);

// Reads what the port holds, at most one block, and runs the receive loop over it, calling
// onPacket(link) for each completed packet. Reads nothing when nothing waits, and notes that the
// port was empty then (an NMEA burst that the quiet ends is reported then). Returns 0.
template <class OnPacket>
int ReadLink(ReceiverLink& link, OnPacket&& onPacket) {
  if (link.port == nullptr) return 0;
  const ClockReading looked = link.clock->Now();
  if (link.port->QueuedBytes() == 0) {
    link.emptyAt = looked;
    // An NMEA burst ends when the line falls quiet after it.
    if (link.protocol == ReceiverProtocol::Nmea && EndQuietBurst(link, looked)) onPacket(link);
    return 0;
  }
  link.rxPos = 0;
  link.rxRemaining = link.port->Read(link.rxBuffer, static_cast<std::uint32_t>(kRxBlockSize));
  link.blockArrival = link.clock->Now();
  // The bytes came after the port was last seen empty; stamped as if the last of them had just
  // arrived, the first may lie earlier by what is left of that time once their own is taken.
  const std::int64_t since = link.blockArrival.monotonicNs - link.emptyAt.monotonicNs;
  const std::int64_t slack = since - static_cast<std::int64_t>(link.rxRemaining) * link.characterTimeNs;
  link.blockSlackNs = slack > 0 ? slack : 0;
  // A read that took less than a block took all there was: the port was empty at the latest as
  // the read began (the earlier moment, so that a delay inside the read counts as slack).
  if (link.rxRemaining < kRxBlockSize) link.emptyAt = looked;
  RunReceiveLoop(link, onPacket);
  return 0;
}

// Clears isOpen and, if the link was open, closes the port. Returns 0.
int CloseLink(ReceiverLink& link);

}  // namespace clockagent
