// The lists of line settings.
#include "receiver/line_settings.h"

namespace clockagent {

LineParameters LineParametersOf(const SerialLineSettings& settings) {
  // The value of the chosen entry, or the one applied at open.
  const auto value = [&settings](const LineList& list, std::uint32_t atOpen) {
    const int index = settings.*list.index;
    return index >= 0 && index < list.count ? list.values[index] : atOpen;
  };
  LineParameters p;
  p.baudRate = value(kLineLists[0], kLineParametersAtOpen.baudRate);
  p.dataBits = static_cast<std::uint8_t>(value(kLineLists[1], kLineParametersAtOpen.dataBits));
  p.parity = static_cast<std::uint8_t>(value(kLineLists[2], kLineParametersAtOpen.parity));
  p.stopBits = static_cast<std::uint8_t>(value(kLineLists[3], kLineParametersAtOpen.stopBits));
  return p;
}

}  // namespace clockagent
