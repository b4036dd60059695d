// The operating system's serial port: the Win32 communications API on Windows, termios elsewhere.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "receiver/serial_port.h"

namespace clockagent {

std::unique_ptr<SerialPort> NewSystemSerialPort();

// The serial ports a search tries when none is named: COM1 to COM20 on Windows; the devices
// present on Linux (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyAMA*), in order.
std::vector<std::string> SystemPortNames();

}  // namespace clockagent
