// The serial channel of the receiver link.
#include "receiver/serial_link.h"

#include <cstdio>
#include <thread>

namespace clockagent {
namespace {

template <class T, std::size_t N>
T Entry(const T (&list)[N], int index, T fallback) {
  return index >= 0 && static_cast<std::size_t>(index) < N ? list[index] : fallback;
}

}  // namespace

LineParameters LineParametersOf(const SerialLineSettings& settings) {
  LineParameters p;
  p.baudRate = Entry(kBaudRates, settings.baudRateIndex, kLineParametersAtOpen.baudRate);
  p.dataBits = Entry(kDataBits, settings.dataBitsIndex, kLineParametersAtOpen.dataBits);
  p.parity = Entry(kParityCodes, settings.parityIndex, kLineParametersAtOpen.parity);
  p.stopBits = Entry(kStopBitsCodes, settings.stopBitsIndex, kLineParametersAtOpen.stopBits);
  return p;
}

void FormatPortName(int portNumber, char (&name)[kPortNameSize]) {
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", portNumber);
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
  std::this_thread::sleep_for(kLineSettlePause);
  link.port->SetLineParameters(LineParametersOf(settings));
  std::this_thread::sleep_for(kLineSettlePause);
}

int CloseLink(ReceiverLink& link) {
  const bool wasOpen = link.isOpen != 0;
  link.isOpen = 0;
  if (wasOpen && link.port != nullptr) link.port->Close();
  return 0;
}

}  // namespace clockagent
