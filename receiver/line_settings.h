// The serial ports and line settings a user chooses from: each list as the window shows it, as
// the settings store it (the entry's index), as the console tool takes it, and the value applied.
#pragma once

#include <cstddef>
#include <cstdint>

#include "receiver/serial_port.h"

namespace clockagent {

// "COM 1" to "COM 20": port number = list index + 1.
constexpr int kPortCount = 20;

// The chosen entry of each line-setting list, by index.
struct SerialLineSettings {
  int baudRateIndex = 2;  // 9600
  int dataBitsIndex = 1;  // 8
  int parityIndex = 0;    // none
  int stopBitsIndex = 0;  // 1
};

struct LineChoice {
  const char* text;     // as the window's list shows it: "9600", "NONE"
  const char* word;     // as the console tool takes it: "9600", "none"
  std::uint32_t value;  // applied: baud, data bits, or the parity or stop-bit code of LineParameters
};

constexpr LineChoice kBaudRateChoices[] = {{"2400", "2400", 2400},
                                           {"4800", "4800", 4800},
                                           {"9600", "9600", 9600},
                                           {"19200", "19200", 19200},
                                           {"38400", "38400", 38400}};
constexpr LineChoice kDataBitsChoices[] = {{"7", "7", 7}, {"8", "8", 8}};
constexpr LineChoice kParityChoices[] = {
    {"NONE", "none", kNoParity}, {"ODD", "odd", kOddParity}, {"EVEN", "even", kEvenParity}};
constexpr LineChoice kStopBitsChoices[] = {{"1", "1", kOneStopBit}, {"2", "2", kTwoStopBits}};

struct LineList {
  const char* storedName;  // the settings value that keeps the index
  const char* option;      // the console tool's option
  const LineChoice* choices;
  int count;
  int SerialLineSettings::*index;  // where the chosen index is held
};

template <std::size_t N>
constexpr LineList MakeLineList(const char* storedName, const char* option,
                                const LineChoice (&choices)[N], int SerialLineSettings::*index) {
  return LineList{storedName, option, choices, static_cast<int>(N), index};
}

// In the order the settings store them and the window lists them.
constexpr LineList kLineLists[] = {
    MakeLineList("BaudRate", "--baud", kBaudRateChoices, &SerialLineSettings::baudRateIndex),
    MakeLineList("DataBits", "--data-bits", kDataBitsChoices, &SerialLineSettings::dataBitsIndex),
    MakeLineList("Parity", "--parity", kParityChoices, &SerialLineSettings::parityIndex),
    MakeLineList("StopBits", "--stop-bits", kStopBitsChoices, &SerialLineSettings::stopBitsIndex),
};

// The index of the entry whose console word is `word`, or -1.
int ChoiceIndex(const LineList& list, const char* word);

// The values the indexes stand for. An index outside its list applies the value the port is
// opened with (9600 baud, 8 data bits, no parity, one stop bit) for that setting.
LineParameters LineParametersOf(const SerialLineSettings& settings);

}  // namespace clockagent
