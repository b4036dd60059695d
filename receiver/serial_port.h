// The serial port as the receiver link sees it; each platform supplies its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace clockagent {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Hands a whole frame to the port and returns without waiting for it to go out. Failures are
  // not reported. The caller may reuse the frame's memory as soon as this returns.
  virtual void Write(const std::uint8_t* frame, std::size_t length) = 0;
};

}  // namespace clockagent
