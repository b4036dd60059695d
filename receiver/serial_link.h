// The serial channel of the receiver link: open with the chosen line settings, read and parse,
// close. The port itself is reached through the link's SerialPort.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "receiver/daro_link.h"
#include "receiver/serial_port.h"

namespace clockagent {

// The line settings as chosen in the lists of the main window: each the index of an entry.
struct SerialLineSettings {
  int portIndex = 0;      // "COM 1" to "COM 20"
  int baudRateIndex = 2;  // 2400, 4800, 9600, 19200, 38400
  int dataBitsIndex = 1;  // "7", "8"
  int parityIndex = 0;    // "NONE", "ODD", "EVEN"
  int stopBitsIndex = 0;  // "1", "2"
};

constexpr int kPortCount = 20;
constexpr std::uint32_t kBaudRates[] = {2400, 4800, 9600, 19200, 38400};
constexpr std::uint8_t kDataBits[] = {7, 8};
constexpr std::uint8_t kParityCodes[] = {kNoParity, kOddParity, kEvenParity};
constexpr std::uint8_t kStopBitsCodes[] = {kOneStopBit, kTwoStopBits};

// The values the indexes stand for. An index outside its list applies the value the port is
// opened with (9600 baud, 8 data bits, no parity, one stop bit) for that setting.
LineParameters LineParametersOf(const SerialLineSettings& settings);

// "\\.\COM%d": port 7 is \\.\COM7, COM7 in the Windows device namespace.
constexpr std::size_t kPortNameSize = 260;  // room for a device path as well
void FormatPortName(int portNumber, char (&name)[kPortNameSize]);

// The pause on each side of applying the line settings: long enough for a UART or a USB adapter
// to settle on a new rate, short against the 200 ms receive poll.
constexpr std::chrono::milliseconds kLineSettlePause{10};

// Resets the framing state (all but packetId) and opens the port. Returns 0 with isOpen set, or
// -1 with isOpen clear. A link that is still open is closed first, so no port is ever lost.
int OpenLink(ReceiverLink& link, const char* portName);

// Right after a successful OpenLink: flush, then apply the chosen line settings between two short
// pauses. A port that refuses them keeps those of the open.
void PrepareLink(ReceiverLink& link, const SerialLineSettings& settings);

// Reads what the port holds, at most one block, and runs the receive loop over it, calling
// onPacket(link) for each completed packet. Reads nothing when nothing waits. Returns 0.
template <class OnPacket>
int ReadLink(ReceiverLink& link, OnPacket&& onPacket) {
  if (link.port == nullptr || link.port->QueuedBytes() == 0) return 0;
  link.rxPos = 0;
  link.rxRemaining = link.port->Read(link.rxBuffer, static_cast<std::uint32_t>(kRxBlockSize));
  RunReceiveLoop(link, onPacket);
  return 0;
}

// Clears isOpen and, if the link was open, closes the port. Returns 0.
int CloseLink(ReceiverLink& link);

}  // namespace clockagent
