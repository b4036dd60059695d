// The operating system's serial port: the Win32 communications API on Windows, termios elsewhere.
#pragma once

#include <memory>

#include "receiver/serial_port.h"

namespace clockagent {

std::unique_ptr<SerialPort> NewSystemSerialPort();

}  // namespace clockagent
