// The serial channel of the receiver link.
#include "receiver/serial_link.h"

#include <cstdio>

namespace clockagent {

void FormatPortName(int portNumber, char (&name)[kPortNameSize]) {
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", portNumber);
}

bool PortOpenName(const PortChoice& port, char (&name)[kPortNameSize]) {
  if (port.device.empty()) {
    FormatPortName(port.number, name);
    return true;
  }
  name[0] = '\0';
  if (port.device.size() >= kPortNameSize) return false;
  std::snprintf(name, sizeof name, "%s", port.device.c_str());
  return true;
}

std::string PortDisplayName(const PortChoice& port) {
  return port.device.empty() ? "COM" + std::to_string(port.number) : port.device;
}

std::int64_t CharacterTimeNs(const LineParameters& line) {
  const int bits = 1 + line.dataBits + (line.parity != kNoParity ? 1 : 0) +
                   (line.stopBits == kTwoStopBits ? 2 : 1);
  return line.baudRate > 0 ? bits * kNsPerSecond / line.baudRate : 0;
}

void ResetFraming(ReceiverLink& link) {
  link.rxPos = 0;
  link.packetCount = 0;
  link.rxRemaining = 0;
  link.packetLength = 0;
  link.afterDle = 0;
  link.inPacket = 0;
  link.packetId = 0;  // a body whose start was lost is no packet of the last attempt's id
  ResetNmeaReader(link.nmea.reader);
  link.nmea.burst = NmeaBurst{};
}

int OpenLink(ReceiverLink& link, const char* portName) {
  if (link.isOpen) CloseLink(link);
  ResetFraming(link);
  link.emptyAt = link.clock->Now();
  link.characterTimeNs = CharacterTimeNs(kLineParametersAtOpen);
  const bool opened = link.port != nullptr && link.port->Open(portName);
  link.isOpen = opened ? 1 : 0;
  return opened ? 0 : -1;
}

bool PrepareLink(ReceiverLink& link, const SerialLineSettings& settings) {
  if (link.port == nullptr) return false;
  link.port->Flush();
  link.clock->Pause(kLineSettlePause);
  const LineParameters line = LineParametersOf(settings);
  const bool applied = link.port->SetLineParameters(line);
  if (applied) link.characterTimeNs = CharacterTimeNs(line);
  link.clock->Pause(kLineSettlePause);
  // What came meanwhile came at the settings of the open, and nobody was there to note when: a
  // packet is taken only from its first byte on, as it arrives.
  while (link.port->QueuedBytes() > 0) {
    if (link.port->Read(link.rxBuffer, static_cast<std::uint32_t>(kRxBlockSize)) == 0) break;
  }
  link.emptyAt = link.clock->Now();
  return applied;
}

int CloseLink(ReceiverLink& link) {
  const bool wasOpen = link.isOpen != 0;
  link.isOpen = 0;
  if (wasOpen && link.port != nullptr) link.port->Close();
  return 0;
}

}  // namespace clockagent
