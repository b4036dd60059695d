// Whether Windows Time undoes the receiver's time.
#include "update/windows_time.h"

#include <cctype>

namespace clockagent {

bool WindowsTimeOverwrites(bool running, const std::string& type) {
  if (!running) return false;
  const std::string noSync = "nosync";
  if (type.size() != noSync.size()) return true;
  for (std::size_t i = 0; i < type.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(type[i])) != noSync[i]) return true;
  }
  return false;
}

}  // namespace clockagent
