// The serial channel of the receiver link.
#include "receiver/serial_link.h"

#include <cstdio>

namespace clockagent {

void FormatPortName(int portNumber, char (&name)[kPortNameSize]) {
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", portNumber);
}

void PortOpenName(const PortChoice& port, char (&name)[kPortNameSize]) {
  if (port.device.empty()) {
    FormatPortName(port.number, name);
  } else {
    std::snprintf(name, sizeof name, "%s", port.device.c_str());
  }
}

std::string PortDisplayName(const PortChoice& port) {
  return port.device.empty() ? "COM" + std::to_string(port.number) : port.device;
}

int OpenLink(ReceiverLink& link, const char* portName) {
  if (link.isOpen) CloseLink(link);
  link.rxPos = 0;
  link.packetCount = 0;
  link.rxRemaining = 0;
  link.packetLength = 0;
  link.afterDle = 0;
  const bool opened = link.port != nullptr && link.port->Open(portName);
  link.isOpen = opened ? 1 : 0;
  return opened ? 0 : -1;
}

void PrepareLink(ReceiverLink& link, const SerialLineSettings& settings) {
  if (link.port == nullptr) return;
  link.port->Flush();
  link.clock->Pause(kLineSettlePause);
  link.port->SetLineParameters(LineParametersOf(settings));
  link.clock->Pause(kLineSettlePause);
}

int CloseLink(ReceiverLink& link) {
  const bool wasOpen = link.isOpen != 0;
  link.isOpen = 0;
  if (wasOpen && link.port != nullptr) link.port->Close();
  return 0;
}

}  // namespace clockagent
