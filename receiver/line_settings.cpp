// The lists of line settings.
#include "receiver/line_settings.h"

#include <cstdio>
#include <cstring>

namespace clockagent {

int ChoiceIndex(const LineList& list, const char* word) {
  for (int i = 0; i < list.count; ++i) {
    if (word != nullptr && std::strcmp(word, list.choices[i].word) == 0) return i;
  }
  return -1;
}

LineParameters LineParametersOf(const SerialLineSettings& settings) {
  // The value of the chosen entry, or the one applied at open.
  const auto value = [&settings](const LineList& list, std::uint32_t atOpen) {
    const int index = settings.*list.index;
    return index >= 0 && index < list.count ? list.choices[index].value : atOpen;
  };
  LineParameters p;
  p.baudRate = value(kLineLists[0], kLineParametersAtOpen.baudRate);
  p.dataBits = static_cast<std::uint8_t>(value(kLineLists[1], kLineParametersAtOpen.dataBits));
  p.parity = static_cast<std::uint8_t>(value(kLineLists[2], kLineParametersAtOpen.parity));
  p.stopBits = static_cast<std::uint8_t>(value(kLineLists[3], kLineParametersAtOpen.stopBits));
  return p;
}

}  // namespace clockagent
