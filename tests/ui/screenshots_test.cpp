// The screenshots in docs/screenshots/ were made from the committed pictures: each shows, pixel
// for pixel, the button pictures, tray icons and About picture of ui/pictures/ that its window
// draws. A screenshot left from older pictures fails here; scripts/wine-test.sh makes new ones.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/ui/picture_files.h"

namespace clockagent::test {
namespace {

namespace fs = std::filesystem;

Bytes Committed(const char* name) { return ReadFile(fs::path(CLOCKAGENT_PICTURES_DIR) / name); }

// A PNG file as 0xRRGGBB pixels, top row first; empty when it cannot be read.
Picture Screenshot(const std::string& name) {
  const std::string path = (fs::path(CLOCKAGENT_SCREENSHOTS_DIR) / (name + ".png")).string();
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture shot;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return shot;
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> bytes(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return shot;
  shot.width = image.width;
  shot.height = image.height;
  for (std::size_t i = 0; i + 2 < bytes.size(); i += 3) {
    shot.rgb.push_back(static_cast<std::uint32_t>(bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2]));
  }
  return shot;
}

// Whether the screenshot shows the picture somewhere: every pixel it draws, in its own colour.
bool Shows(const Picture& shot, const Picture& picture) {
  if (picture.width == 0 || picture.width > shot.width || picture.height > shot.height) return false;
  for (std::uint32_t top = 0; top + picture.height <= shot.height; ++top) {
    for (std::uint32_t left = 0; left + picture.width <= shot.width; ++left) {
      bool same = true;
      for (std::uint32_t y = 0; y < picture.height && same; ++y) {
        for (std::uint32_t x = 0; x < picture.width && same; ++x) {
          const std::size_t at = y * picture.width + x;
          same = !picture.drawn[at] ||
                 shot.rgb[(top + y) * shot.width + left + x] == picture.rgb[at];
        }
      }
      if (same) return true;
    }
  }
  return false;
}

struct Expected {
  const char* screenshot;
  std::uint32_t width, height;  // the window's client area
  std::vector<std::pair<const char*, Picture>> pictures;
};

TEST(ScreenshotsTest, ShowTheCommittedPictures) {
  const Bytes start = Committed("start.bmp"), stop = Committed("stop.bmp");
  const Picture refresh = BitmapPicture(Committed("refresh.bmp"), 0, 15, true);
  // The speed buttons' pictures: the normal one left, the greyed one right.
  const Picture startNormal = BitmapPicture(start, 0, 16, true);
  const Picture startGreyed = BitmapPicture(start, 16, 16, true);
  const Picture stopNormal = BitmapPicture(stop, 0, 16, true);
  const Picture stopGreyed = BitmapPicture(stop, 16, 16, true);
  const Bytes find = Committed("find.bmp");
  const Expected expected[] = {
      {"main-stopped", 393, 343,
       {{"Start", startNormal}, {"Stop, greyed", stopGreyed}, {"Refresh Time", refresh},
        {"Find Receiver", BitmapPicture(find, 0, 16, true)}}},
      {"main-running", 393, 343,
       {{"Start, greyed", startGreyed}, {"Stop", stopNormal}, {"Refresh Time", refresh},
        {"Find Receiver, greyed", BitmapPicture(find, 16, 16, true)}}},
      {"icons", 287, 144,
       {{"cawhitesm.ico", IconPicture(Committed("cawhitesm.ico"), 32)},
        {"cabluesm.ico", IconPicture(Committed("cabluesm.ico"), 32)},
        {"cayellowsm.ico", IconPicture(Committed("cayellowsm.ico"), 32)}}},
      {"about", 303, 169, {{"about.bmp", BitmapPicture(Committed("about.bmp"), 0, 71, false)}}},
      {"packets", 263, 103, {}},
      {"errors", 436, 449, {}},
  };
  for (const Expected& e : expected) {
    const Picture shot = Screenshot(e.screenshot);
    ASSERT_FALSE(shot.rgb.empty()) << e.screenshot << ".png cannot be read";
    EXPECT_EQ(shot.width, e.width) << e.screenshot;
    EXPECT_EQ(shot.height, e.height) << e.screenshot;
    for (const auto& [name, picture] : e.pictures) {
      EXPECT_TRUE(Shows(shot, picture))
          << e.screenshot << ".png does not show " << name << " as ui/pictures/ has it; make the "
          << "screenshots again with scripts/wine-test.sh and scripts/screenshots.sh";
    }
  }
}

// The check tells pictures apart: a picture that is not in a screenshot is not found there.
TEST(ScreenshotsTest, TellsPicturesApart) {
  const Picture running = Screenshot("main-running");
  ASSERT_FALSE(running.rgb.empty());
  EXPECT_FALSE(Shows(running, BitmapPicture(Committed("start.bmp"), 0, 16, true)))
      << "Start is greyed while running";
  EXPECT_FALSE(Shows(Screenshot("about"), IconPicture(Committed("cawhitesm.ico"), 32)));
}

}  // namespace
}  // namespace clockagent::test
