// The Windows program's icons and bitmaps, drawn in code so they can be made again byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace clockagent {

struct PictureFile {
  std::string name;  // "cawhitesm.ico", "start.bmp", ...
  std::vector<std::uint8_t> bytes;
};

// Every picture file of the Windows program, in a fixed order, with its contents.
std::vector<PictureFile> MakePictureFiles();

// Writes every picture file into `folder`, which must exist. False when a file could not be
// written.
bool WritePictures(const std::string& folder);

}  // namespace clockagent
