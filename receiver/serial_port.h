// The serial port as the receiver link sees it; each platform supplies its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "receiver/pulse_edges.h"

namespace clockagent {

// Parity and stop-bit codes as the Win32 line-settings record (DCB) has them.
enum ParityCode : std::uint8_t { kNoParity = 0, kOddParity = 1, kEvenParity = 2 };
enum StopBitsCode : std::uint8_t { kOneStopBit = 0, kTwoStopBits = 2 };

struct LineParameters {
  std::uint32_t baudRate = 9600;
  std::uint8_t dataBits = 8;  // 7 or 8
  std::uint8_t parity = kNoParity;
  std::uint8_t stopBits = kOneStopBit;
};

// The fixed values of the channel.
constexpr std::uint32_t kDriverQueueSize = 4096;       // input and output
constexpr std::uint32_t kWriteTimeoutPerByteMs = 10;
constexpr LineParameters kLineParametersAtOpen{};      // 9600 baud, 8 data bits, no parity, 1 stop

// Why an Open failed, as far as the system tells.
enum class OpenFailure : std::uint8_t {
  NoPort,  // no such device, no hardware behind it, or not a serial port
  InUse,   // another program holds it
  Denied,  // this user may not open it
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the named port for this program alone, sets up its queues, purges them, makes reads
  // return at once with what has arrived, and applies kLineParametersAtOpen. False when the
  // port could not be opened or set up; nothing is left open then.
  virtual bool Open(const char* name) = 0;

  // Why the last Open failed.
  virtual OpenFailure LastOpenFailure() const { return OpenFailure::NoPort; }

  // The system's own words for why the last Open, SetLineParameters or WatchPulse failed ("No
  // such file or directory"); empty when it gave none. Valid until the next call on the port.
  virtual const char* LastErrorText() const { return ""; }

  // Applies the line parameters. False when the port refused them (LastErrorText says why).
  virtual bool SetLineParameters(const LineParameters& parameters) = 0;

  // For the opens to come: the port is left as it was found, its line settings put back at Close,
  // and its modem lines never raised. A search must not disturb a device it does not find.
  virtual void LeaveAsFound() {}

  // Waits until what was written has left the port.
  virtual void Flush() = 0;

  // Bytes received and waiting to be read; also clears the port's error state.
  virtual std::uint32_t QueuedBytes() = 0;

  // Reads at most `size` bytes that have already arrived, without waiting. Returns the count.
  virtual std::uint32_t Read(std::uint8_t* buffer, std::uint32_t size) = 0;

  // Hands a whole frame to the port and returns without waiting for it to go out. Failures are
  // not reported. The caller may reuse the frame's memory as soon as this returns.
  virtual void Write(const std::uint8_t* frame, std::size_t length) = 0;

  // Lets a frame already handed over finish leaving, clears errors and any break, drops what is
  // queued either way, and closes the port.
  virtual void Close() = 0;

  // For a caller that waits on several things at once (the window's message loop): what to wait
  // on until bytes arrive, as an integer: an event handle on Windows, armed anew by each call and
  // signalled at once when bytes already wait; the file descriptor on POSIX. -1 while the port is
  // closed or cannot be waited on (the caller then reads every few milliseconds).
  virtual std::intptr_t ArrivalHandle() = 0;

  // Waits at most `timeout` for bytes to arrive. True when bytes wait (or may: a port that cannot
  // be waited on says so every few milliseconds); false after the whole timeout, also on a line
  // that has gone away.
  virtual bool WaitForBytes(std::chrono::milliseconds timeout) = 0;

  // Begins stamping each rising edge of the modem input `line` on `clock` into `edges`, from a
  // thread of the port's own, until StopPulseWatch or Close. False when the port cannot read the
  // line: it is closed, or has no modem lines (a pseudo-terminal, a port of a test).
  virtual bool WatchPulse(PulseLine /*line*/, LinkClock& /*clock*/, PulseEdges& /*edges*/) {
    return false;
  }
  virtual void StopPulseWatch() {}
};

}  // namespace clockagent
