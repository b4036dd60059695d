// Pixel art for the notification-area icons, the button bitmaps and the About picture.
#include "ui/pictures/pictures.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <fstream>

namespace clockagent {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Indices into the standard 16-colour VGA palette, the only colours the pictures use. kClear is
// no colour: the see-through part of an icon.
enum Colour : std::uint8_t {
  kBlack, kMaroon, kGreen, kOlive, kNavy, kPurple, kTeal, kSilver,
  kGrey, kRed, kLime, kYellow, kBlue, kFuchsia, kAqua, kWhite, kClear
};
constexpr std::uint32_t kVgaRgb[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

struct Picture {
  Picture(int w, int h, Colour fill)
      : width(w), height(h), pixels(static_cast<std::size_t>(w * h), fill) {}
  bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  Colour At(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
  void Set(int x, int y, Colour c) {
    if (Inside(x, y)) pixels[static_cast<std::size_t>(y * width + x)] = c;
  }
  int width;
  int height;
  std::vector<Colour> pixels;  // top row first
};

void FillRect(Picture& p, int x0, int y0, int x1, int y1, Colour c) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) p.Set(x, y, c);
}

void FrameRect(Picture& p, int x0, int y0, int x1, int y1, Colour c) {
  FillRect(p, x0, y0, x1, y0, c);
  FillRect(p, x0, y1, x1, y1, c);
  FillRect(p, x0, y0, x0, y1, c);
  FillRect(p, x1, y0, x1, y1, c);
}

// Bresenham, both ends included; `pen` squares of pen x pen pixels, centred as near as can be.
void Line(Picture& p, int x0, int y0, int x1, int y1, Colour c, int pen = 1) {
  const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  for (int err = dx + dy;;) {
    FillRect(p, x0 - (pen - 1) / 2, y0 - (pen - 1) / 2, x0 + pen / 2, y0 + pen / 2, c);
    if (x0 == x1 && y0 == y1) break;
    const int e2 = 2 * err;
    if (e2 >= dy) { err += dy; x0 += sx; }
    if (e2 <= dx) { err += dx; y0 += sy; }
  }
}

// Where each hour points, screen y down. Written out rather than computed with sin and cos so
// that no maths library can move a pixel.
constexpr double kRoot3By2 = 0.8660254037844386;
constexpr double kHourDirection[12][2] = {
    {0, -1}, {0.5, -kRoot3By2}, {kRoot3By2, -0.5}, {1, 0}, {kRoot3By2, 0.5}, {0.5, kRoot3By2},
    {0, 1}, {-0.5, kRoot3By2}, {-kRoot3By2, 0.5}, {-1, 0}, {-kRoot3By2, -0.5}, {-0.5, -kRoot3By2}};

int Along(int centre, double direction, int distance) {
  return centre + static_cast<int>(std::lround(direction * distance));
}

// A clock face `size` pixels across (odd) with its top left corner at (left, top). Its rings are
// peeled off the disc one 4-connected layer at a time, which keeps each layer one pixel wide and
// unbroken however small the clock. Large faces show ten past ten; small ones two o'clock, as
// two slanted hands that short no longer meet at the centre.
void DrawClock(Picture& p, int left, int top, int size, Colour dial) {
  const bool big = size >= 25;
  const int rim = big ? 3 : 1;
  std::vector<int> depth(static_cast<std::size_t>(size * size), 0);  // 0 outside the disc
  auto at = [&](int x, int y) -> int& { return depth[static_cast<std::size_t>(y * size + x)]; };
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const int dx = 2 * x - (size - 1), dy = 2 * y - (size - 1);
      if (dx * dx + dy * dy <= size * size) at(x, y) = -1;  // inside, layer still unknown
    }
  }
  auto layer = [&](int x, int y) {
    return x < 0 || y < 0 || x >= size || y >= size ? 0 : at(x, y);
  };
  for (int d = 1, found = 1; found; ++d) {
    found = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        if (at(x, y) != -1) continue;
        if (layer(x - 1, y) == d - 1 || layer(x + 1, y) == d - 1 || layer(x, y - 1) == d - 1 ||
            layer(x, y + 1) == d - 1) {
          at(x, y) = d;
          found = 1;
        }
      }
    }
  }
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const int d = at(x, y);
      if (d > 0) p.Set(left + x, top + y, d == 1 ? kBlack : d <= 1 + rim ? kRed : dial);
    }
  }
  const int cx = left + size / 2, cy = top + size / 2;
  const int reach = size / 2 - 1 - rim;  // the last dial pixel straight out from the centre
  for (int h = 0; h < 12; ++h) {
    if (!big && h % 3 != 0) continue;
    const double* d = kHourDirection[h];
    const int length = !big ? 1 : h % 3 == 0 ? 4 : 2;
    Line(p, Along(cx, d[0], reach), Along(cy, d[1], reach), Along(cx, d[0], reach - length + 1),
         Along(cy, d[1], reach - length + 1), kBlue, big && h % 3 == 0 ? 2 : 1);
  }
  const int pen = big ? 2 : 1;
  const double* minute = kHourDirection[big ? 2 : 0];
  const double* hour = kHourDirection[big ? 10 : 2];
  Line(p, cx, cy, Along(cx, minute[0], reach - 1), Along(cy, minute[1], reach - 1), kBlack, pen);
  Line(p, cx, cy, Along(cx, hour[0], reach * 3 / 5), Along(cy, hour[1], reach * 3 / 5), kBlack,
       pen);
  if (big) FillRect(p, cx - 1, cy - 1, cx + 1, cy + 1, kRed);
  else p.Set(cx, cy, kRed);
}

// The tray icon: 16 x 16, see-through around the face.
Picture TrayClock(Colour dial) {
  Picture p(16, 16, kClear);
  DrawClock(p, 0, 0, 15, dial);
  return p;
}

Picture Doubled(const Picture& small) {
  Picture p(small.width * 2, small.height * 2, kClear);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) p.Set(x, y, small.At(x / 2, y / 2));
  return p;
}

// A toolbar button face: a framed 15 x 15 box on teal, which Windows shows see-through.
Picture ButtonBox() {
  Picture p(16, 16, kTeal);
  FrameRect(p, 0, 0, 14, 14, kAqua);
  FrameRect(p, 1, 1, 13, 13, kBlack);
  FillRect(p, 2, 2, 11, 2, kWhite);
  FillRect(p, 2, 3, 2, 11, kWhite);
  FillRect(p, 2, 12, 12, 12, kGrey);
  FillRect(p, 12, 2, 12, 11, kGrey);
  return p;
}

// The look Windows gives a greyed button: the shape in grey over a white copy one pixel down
// and right.
Picture Embossed(const Picture& normal) {
  Picture p(normal.width, normal.height, kTeal);
  for (int pass = 0; pass < 2; ++pass)
    for (int y = 0; y < normal.height; ++y)
      for (int x = 0; x < normal.width; ++x)
        if (normal.At(x, y) != kTeal) p.Set(x + 1 - pass, y + 1 - pass, pass ? kGrey : kWhite);
  return p;
}

// The normal face on the left and the greyed one on the right, as a toolbar strip wants them.
Picture ButtonStrip(const Picture& normal) {
  Picture strip(32, 16, kTeal);
  const Picture greyed = Embossed(normal);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      strip.Set(x, y, normal.At(x, y));
      strip.Set(16 + x, y, greyed.At(x, y));
    }
  }
  return strip;
}

Picture StartButton() {
  Picture p = ButtonBox();
  for (int i = 0; i < 4; ++i) FillRect(p, 6 + i, 4 + i, 6 + i, 10 - i, kBlack);
  return ButtonStrip(p);
}

Picture StopButton() {
  Picture p = ButtonBox();
  FillRect(p, 5, 5, 9, 9, kBlack);
  return ButtonStrip(p);
}

Picture RefreshButton() {
  Picture p(15, 15, kTeal);
  DrawClock(p, 0, 0, 15, kWhite);
  return p;
}

// A magnifying glass: a round lens with a white glint, and a handle down to the right from it.
Picture FindButton() {
  Picture p = ButtonBox();
  FillRect(p, 4, 3, 6, 3, kBlack);
  FillRect(p, 4, 7, 6, 7, kBlack);
  FillRect(p, 3, 4, 3, 6, kBlack);
  FillRect(p, 7, 4, 7, 6, kBlack);
  p.Set(4, 4, kWhite);
  Line(p, 7, 7, 10, 10, kBlack, 2);
  return ButtonStrip(p);
}

// The receiver's satellite in a red sketch, an arrow bending down from it to a large clock.
Picture AboutPicture() {
  Picture p(71, 70, kTeal);
  FillRect(p, 2, 2, 31, 31, kWhite);
  FrameRect(p, 2, 2, 31, 31, kRed);
  FrameRect(p, 13, 11, 19, 17, kRed);  // body
  for (int side = 0; side < 2; ++side) {
    const int x0 = side ? 22 : 5, x1 = x0 + 5;
    FrameRect(p, x0, 10, x1, 18, kRed);  // solar panel
    Line(p, x0, 14, x1, 14, kRed);
    Line(p, x0 + 2, 10, x0 + 2, 18, kRed);
    Line(p, side ? 20 : 11, 14, side ? 21 : 12, 14, kRed);  // strut
  }
  Line(p, 16, 7, 16, 10, kRed);  // aerial
  Line(p, 16, 18, 16, 19, kRed);  // dish, facing the ground
  Line(p, 12, 22, 14, 20, kRed);
  Line(p, 14, 20, 18, 20, kRed);
  Line(p, 18, 20, 20, 22, kRed);
  Line(p, 16, 21, 16, 22, kRed);
  for (int wave = 0; wave < 2; ++wave) {
    const int y = 26 + 2 * wave, reach = 2 + 2 * wave;
    Line(p, 16 - reach - 1, y - 1, 16 - reach, y, kRed);
    Line(p, 16 - reach, y, 16 + reach, y, kRed);
    Line(p, 16 + reach, y, 16 + reach + 1, y - 1, kRed);
  }
  // A ribbon four pixels wide, blue along its outer edge and red along its inner one, out of the
  // square's right side, round a corner and down to the clock.
  for (int y = 12; y <= 15; ++y)
    for (int x = 33; x <= 51; ++x) {
      const int outer = x < 48 ? y - 12 : std::min(y - 12, 51 - x);
      p.Set(x, y, outer < 2 ? kBlue : kRed);
    }
  for (int y = 16; y <= 23; ++y)
    for (int x = 48; x <= 51; ++x) p.Set(x, y, x >= 50 ? kBlue : kRed);
  for (int row = 0; row < 6; ++row)
    for (int x = 44 + row; x <= 55 - row; ++x) p.Set(x, 24 + row, x >= 50 ? kBlue : kRed);
  DrawClock(p, 31, 31, 39, kWhite);
  return p;
}

void Put16(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  b.push_back(static_cast<std::uint8_t>(v >> 8 & 0xFF));
}

void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

std::uint32_t RowBytes(int width, int bits) {
  return static_cast<std::uint32_t>((width * bits + 31) / 32 * 4);
}

// BITMAPINFOHEADER, then the VGA colours padded with zeros to the full 2^bits palette.
void PutInfoHeader(Bytes& b, int width, int height, int bits, std::uint32_t imageBytes) {
  Put32(b, 40);
  Put32(b, static_cast<std::uint32_t>(width));
  Put32(b, static_cast<std::uint32_t>(height));
  Put16(b, 1);
  Put16(b, static_cast<unsigned>(bits));
  Put32(b, 0);  // BI_RGB
  Put32(b, imageBytes);
  for (int i = 0; i < 4; ++i) Put32(b, 0);  // resolution and colour counts: the defaults
  for (int i = 0; i < 1 << bits; ++i) Put32(b, i < 16 ? kVgaRgb[i] : 0);
}

// Colour rows bottom row first, each padded to four bytes; see-through pixels are colour 0.
void PutPixels(Bytes& b, const Picture& p, int bits) {
  for (int y = p.height - 1; y >= 0; --y) {
    Bytes row(RowBytes(p.width, bits), 0);
    for (int x = 0; x < p.width; ++x) {
      const unsigned c = p.At(x, y) == kClear ? 0u : unsigned{p.At(x, y)};
      const auto i = static_cast<std::size_t>(x * bits / 8);
      row[i] = static_cast<std::uint8_t>(bits == 8 ? c : row[i] | (x % 2 ? c : c << 4));
    }
    b.insert(b.end(), row.begin(), row.end());
  }
}

Bytes Bitmap(const Picture& p, int bits) {
  const std::uint32_t imageBytes = RowBytes(p.width, bits) * static_cast<std::uint32_t>(p.height);
  const std::uint32_t offset = 14 + 40 + 4u * (1u << bits);
  Bytes b = {'B', 'M'};
  Put32(b, offset + imageBytes);
  Put32(b, 0);
  Put32(b, offset);
  PutInfoHeader(b, p.width, p.height, bits, imageBytes);
  PutPixels(b, p, bits);
  return b;
}

// An icon file of 16-colour images, each its colours and then its AND mask (1 = see-through).
Bytes Icon(const std::vector<Picture>& images) {
  Bytes b;
  Put16(b, 0);
  Put16(b, 1);  // an icon, not a cursor
  Put16(b, static_cast<unsigned>(images.size()));
  std::vector<Bytes> bodies;
  for (const Picture& p : images) {
    const std::uint32_t colourBytes = RowBytes(p.width, 4) * static_cast<std::uint32_t>(p.height);
    const std::uint32_t maskBytes = RowBytes(p.width, 1) * static_cast<std::uint32_t>(p.height);
    Bytes body;
    PutInfoHeader(body, p.width, 2 * p.height, 4, colourBytes + maskBytes);
    PutPixels(body, p, 4);
    for (int y = p.height - 1; y >= 0; --y) {
      Bytes row(RowBytes(p.width, 1), 0);
      for (int x = 0; x < p.width; ++x)
        if (p.At(x, y) == kClear) {
          auto& bits = row[static_cast<std::size_t>(x / 8)];
          bits = static_cast<std::uint8_t>(bits | (0x80 >> (x % 8)));
        }
      body.insert(body.end(), row.begin(), row.end());
    }
    bodies.push_back(body);
  }
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    b.push_back(static_cast<std::uint8_t>(images[i].width));
    b.push_back(static_cast<std::uint8_t>(images[i].height));
    b.push_back(16);  // colours
    b.push_back(0);
    Put16(b, 1);  // planes
    Put16(b, 4);  // bits per pixel
    Put32(b, static_cast<std::uint32_t>(bodies[i].size()));
    Put32(b, offset);
    offset += static_cast<std::uint32_t>(bodies[i].size());
  }
  for (const Bytes& body : bodies) b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes TrayIcon(Colour dial) {
  const Picture small = TrayClock(dial);
  return Icon({small, Doubled(small)});
}

}  // namespace

std::vector<PictureFile> MakePictureFiles() {
  return {{"cawhitesm.ico", TrayIcon(kWhite)},    {"cabluesm.ico", TrayIcon(kAqua)},
          {"cayellowsm.ico", TrayIcon(kYellow)},  {"start.bmp", Bitmap(StartButton(), 4)},
          {"stop.bmp", Bitmap(StopButton(), 4)},  {"refresh.bmp", Bitmap(RefreshButton(), 8)},
          {"find.bmp", Bitmap(FindButton(), 4)},  {"about.bmp", Bitmap(AboutPicture(), 4)}};
}

bool WritePictures(const std::string& folder) {
  for (const PictureFile& file : MakePictureFiles()) {
    std::ofstream out(folder + "/" + file.name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.bytes.data()),
              static_cast<std::streamsize>(file.bytes.size()));
    if (!out.flush()) return false;
  }
  return true;
}

}  // namespace clockagent
