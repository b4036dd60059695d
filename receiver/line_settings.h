// The serial ports and line settings a user chooses from: the value each entry of a list applies,
// and the chosen entry's index, which is what the settings keep and the window selects.
#pragma once

#include <cstddef>
#include <cstdint>

#include "receiver/serial_port.h"

namespace clockagent {

// "COM 1" to "COM 20": port number = list index + 1.
constexpr int kPortCount = 20;

// What each list's entries apply: baud, data bits, and the parity and stop-bit codes of
// LineParameters. The window, the console tool and the settings keep their words for the entries
// in this order.
constexpr std::uint32_t kBaudRates[] = {2400, 4800, 9600, 19200, 38400};
constexpr std::uint32_t kDataBits[] = {7, 8};
constexpr std::uint32_t kParities[] = {kNoParity, kOddParity, kEvenParity};
constexpr std::uint32_t kStopBits[] = {kOneStopBit, kTwoStopBits};

// The index of `value` among `values`, or -1.
template <std::size_t N>
constexpr int IndexOfValue(const std::uint32_t (&values)[N], std::uint32_t value) {
  for (std::size_t i = 0; i < N; ++i) {
    if (values[i] == value) return static_cast<int>(i);
  }
  return -1;
}

// The chosen entry of each line-setting list, by index; unchosen, the entries of the line
// parameters the port is opened with.
struct SerialLineSettings {
  int baudRateIndex = IndexOfValue(kBaudRates, kLineParametersAtOpen.baudRate);
  int dataBitsIndex = IndexOfValue(kDataBits, kLineParametersAtOpen.dataBits);
  int parityIndex = IndexOfValue(kParities, kLineParametersAtOpen.parity);
  int stopBitsIndex = IndexOfValue(kStopBits, kLineParametersAtOpen.stopBits);
};
static_assert(SerialLineSettings{}.baudRateIndex >= 0 && SerialLineSettings{}.dataBitsIndex >= 0 &&
                  SerialLineSettings{}.parityIndex >= 0 && SerialLineSettings{}.stopBitsIndex >= 0,
              "the port's opening line parameters are entries of the lists");

struct LineList {
  const std::uint32_t* values;
  int count;
  int SerialLineSettings::*index;  // where the chosen index is held
};

template <std::size_t N>
constexpr LineList MakeLineList(const std::uint32_t (&values)[N], int SerialLineSettings::*index) {
  return LineList{values, static_cast<int>(N), index};
}

// In the order the settings store them and the window lists them.
constexpr LineList kLineLists[] = {
    MakeLineList(kBaudRates, &SerialLineSettings::baudRateIndex),
    MakeLineList(kDataBits, &SerialLineSettings::dataBitsIndex),
    MakeLineList(kParities, &SerialLineSettings::parityIndex),
    MakeLineList(kStopBits, &SerialLineSettings::stopBitsIndex),
};

// The values the indexes stand for. An index outside its list applies, for that setting, the
// value the port is opened with (kLineParametersAtOpen).
LineParameters LineParametersOf(const SerialLineSettings& settings);

}  // namespace clockagent
