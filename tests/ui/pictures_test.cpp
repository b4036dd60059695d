// The committed icons and bitmaps are what the picture generator draws, and well-formed files.
#include <gtest/gtest.h>
#include <stdlib.h>  // mkdtemp

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/ui/picture_files.h"
#include "ui/pictures/pictures.h"

namespace clockagent {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::PaletteRgb;
using test::PixelAt;
using test::ReadFile;
using test::RowBytes;
using test::S32;
using test::U16;
using test::U32;

const char* const kNames[] = {"cawhitesm.ico", "cabluesm.ico", "cayellowsm.ico", "start.bmp",
                              "stop.bmp",      "refresh.bmp",  "find.bmp",       "about.bmp"};

Bytes Committed(const std::string& name) {
  return ReadFile(fs::path(CLOCKAGENT_PICTURES_DIR) / name);
}

TEST(PicturesTest, TheCommittedFilesAreWhatTheGeneratorWrites) {
  std::string pattern = (fs::temp_directory_path() / "clockagent-pictures-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  ASSERT_TRUE(WritePictures(folder.string()));
  std::set<std::string> written;
  for (const auto& entry : fs::directory_iterator(folder))
    written.insert(entry.path().filename().string());
  EXPECT_EQ(written, std::set<std::string>(std::begin(kNames), std::end(kNames)));
  for (const char* name : kNames) {
    const Bytes fresh = ReadFile(folder / name);
    EXPECT_FALSE(fresh.empty()) << name;
    EXPECT_TRUE(fresh == Committed(name))
        << name << " in ui/pictures/ differs from what the generator draws; run make_pictures "
        << "ui/pictures and commit the result";
  }
  fs::remove_all(folder);
}

TEST(PicturesTest, DrawingTwiceGivesTheSameBytes) {
  const std::vector<PictureFile> first = MakePictureFiles(), second = MakePictureFiles();
  ASSERT_EQ(first.size(), second.size());
  for (std::size_t i = 0; i < first.size(); ++i) EXPECT_TRUE(first[i].bytes == second[i].bytes);
}

TEST(PicturesTest, TrayIconsHoldA16And32Pixel16ColourImage) {
  for (const char* name : {"cawhitesm.ico", "cabluesm.ico", "cayellowsm.ico"}) {
    SCOPED_TRACE(name);
    const Bytes b = Committed(name);
    ASSERT_GE(b.size(), 6u + 2 * 16);
    EXPECT_EQ(U16(b, 0), 0u);
    EXPECT_EQ(U16(b, 2), 1u);  // icon
    ASSERT_EQ(U16(b, 4), 2u);
    std::size_t expectedOffset = 6 + 2 * 16;
    for (std::uint32_t i = 0; i < 2; ++i) {
      const std::size_t entry = 6 + 16 * i;
      const std::uint32_t side = 16u << i;
      EXPECT_EQ(b[entry], side);
      EXPECT_EQ(b[entry + 1], side);
      EXPECT_EQ(b[entry + 2], 16u);  // colours
      EXPECT_EQ(U16(b, entry + 4), 1u);
      EXPECT_EQ(U16(b, entry + 6), 4u);
      const std::uint32_t length = U32(b, entry + 8), offset = U32(b, entry + 12);
      EXPECT_EQ(offset, expectedOffset);
      EXPECT_EQ(length, 40 + 16 * 4 + RowBytes(side, 4) * side + RowBytes(side, 1) * side);
      expectedOffset += length;

      EXPECT_EQ(U32(b, offset), 40u);
      EXPECT_EQ(S32(b, offset + 4), static_cast<std::int32_t>(side));
      EXPECT_EQ(S32(b, offset + 8), static_cast<std::int32_t>(2 * side));  // colours and mask
      EXPECT_EQ(U16(b, offset + 12), 1u);
      EXPECT_EQ(U16(b, offset + 14), 4u);
      EXPECT_EQ(U32(b, offset + 16), 0u);
      const std::size_t palette = offset + 40, colours = palette + 16 * 4;
      const std::size_t mask = colours + RowBytes(side, 4) * side;
      EXPECT_EQ(PaletteRgb(b, palette, 6), 0x008080u);
      EXPECT_EQ(PaletteRgb(b, palette, 9), 0xFF0000u);
      // See-through at the corners, drawn and red in the middle.
      for (std::uint32_t corner : {0u, side - 1}) {
        EXPECT_EQ(PixelAt(b, mask, side, side, 1, corner, corner), 1u);
        EXPECT_EQ(PixelAt(b, colours, side, side, 4, corner, corner), 0u);
      }
      const std::uint32_t centre = 7u << i;
      EXPECT_EQ(PixelAt(b, mask, side, side, 1, centre, centre), 0u);
      EXPECT_EQ(PaletteRgb(b, palette, PixelAt(b, colours, side, side, 4, centre, centre)),
                0xFF0000u);
    }
    EXPECT_EQ(b.size(), expectedOffset);
  }
}

struct BitmapShape {
  const char* name;
  std::uint32_t width, height;
  unsigned bits;
};

TEST(PicturesTest, BitmapsAreBottomUpWithATealBottomLeftPixel) {
  for (const BitmapShape& shape : {BitmapShape{"start.bmp", 32, 16, 4},
                                   BitmapShape{"stop.bmp", 32, 16, 4},
                                   BitmapShape{"refresh.bmp", 15, 15, 8},
                                   BitmapShape{"find.bmp", 32, 16, 4},
                                   BitmapShape{"about.bmp", 71, 70, 4}}) {
    SCOPED_TRACE(shape.name);
    const Bytes b = Committed(shape.name);
    ASSERT_GE(b.size(), 54u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b, 2), b.size());
    const std::size_t palette = 14 + 40, colours = palette + (4u << shape.bits);
    EXPECT_EQ(U32(b, 10), colours);
    EXPECT_EQ(U32(b, 14), 40u);
    EXPECT_EQ(S32(b, 18), static_cast<std::int32_t>(shape.width));
    EXPECT_EQ(S32(b, 22), static_cast<std::int32_t>(shape.height));  // positive: bottom-up
    EXPECT_EQ(U16(b, 26), 1u);
    EXPECT_EQ(U16(b, 28), shape.bits);
    EXPECT_EQ(U32(b, 30), 0u);
    const std::size_t imageBytes = RowBytes(shape.width, shape.bits) * shape.height;
    EXPECT_EQ(U32(b, 34), imageBytes);
    ASSERT_EQ(b.size(), colours + imageBytes);

    EXPECT_EQ(PaletteRgb(b, palette, PixelAt(b, colours, shape.width, shape.height, shape.bits, 0,
                                             shape.height - 1)),
              0x008080u);
    std::set<unsigned> used;
    for (std::uint32_t y = 0; y < shape.height; ++y)
      for (std::uint32_t x = 0; x < shape.width; ++x)
        used.insert(PixelAt(b, colours, shape.width, shape.height, shape.bits, x, y));
    EXPECT_LE(*used.rbegin(), 15u);  // the VGA colours only
    EXPECT_GE(used.size(), 5u);
    for (unsigned i = 16; i < (1u << shape.bits); ++i) EXPECT_EQ(U32(b, palette + 4 * i), 0u);
  }
}

TEST(PicturesTest, ButtonStripsHoldANormalAndAGreyedFace) {
  for (const char* name : {"start.bmp", "stop.bmp", "find.bmp"}) {
    SCOPED_TRACE(name);
    const Bytes b = Committed(name);
    const std::size_t colours = 14 + 40 + 16 * 4;
    auto rgb = [&](std::uint32_t x, std::uint32_t y) {
      return PaletteRgb(b, 14 + 40, PixelAt(b, colours, 32, 16, 4, x, y));
    };
    std::set<std::uint32_t> normal, greyed;
    for (std::uint32_t y = 0; y < 16; ++y) {
      for (std::uint32_t x = 0; x < 16; ++x) {
        normal.insert(rgb(x, y));
        greyed.insert(rgb(16 + x, y));
      }
    }
    EXPECT_EQ(normal, (std::set<std::uint32_t>{0x000000, 0x008080, 0x00FFFF, 0x808080, 0xFFFFFF}));
    EXPECT_EQ(greyed, (std::set<std::uint32_t>{0x008080, 0x808080, 0xFFFFFF}));
    EXPECT_EQ(rgb(7, 7), 0x000000u);  // the symbol in the middle of the box
    EXPECT_EQ(rgb(16 + 7, 7), 0x808080u);
  }
}

}  // namespace
}  // namespace clockagent
