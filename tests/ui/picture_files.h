// Reading the picture files of ui/pictures/ (BMP and ICO) pixel by pixel.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace clockagent::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline unsigned U16(const Bytes& b, std::size_t at) { return b.at(at) | b.at(at + 1) << 8; }
inline std::uint32_t U32(const Bytes& b, std::size_t at) {
  return U16(b, at) | static_cast<std::uint32_t>(U16(b, at + 2)) << 16;
}
inline std::int32_t S32(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>(U32(b, at));
}

inline std::size_t RowBytes(std::uint32_t width, unsigned bits) {
  return (width * bits + 31) / 32 * 4;
}

// The palette index of pixel (x, y), y counted from the top, in a bottom-up bitmap's rows.
inline unsigned PixelAt(const Bytes& b, std::size_t rows, std::uint32_t width,
                        std::uint32_t height, unsigned bits, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t byte = b.at(rows + (height - 1 - y) * RowBytes(width, bits) + x * bits / 8);
  if (bits == 8) return byte;
  if (bits == 4) return x % 2 ? byte & 0x0Fu : byte >> 4u;
  return byte >> (7 - x % 8) & 1u;
}

inline std::uint32_t PaletteRgb(const Bytes& b, std::size_t palette, unsigned index) {
  return U32(b, palette + 4 * index) & 0xFFFFFF;
}

// A picture as it shows on screen: 0xRRGGBB by pixel, top row first, and which pixels are drawn
// (the others let the background through).
struct Picture {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint32_t> rgb;
  std::vector<bool> drawn;
};

// Columns [left, left + width) of a palette bitmap file; with `transparentCorner`, the colour
// of its bottom-left pixel is not drawn, as the speed buttons draw their pictures.
inline Picture BitmapPicture(const Bytes& b, std::uint32_t left, std::uint32_t width,
                             bool transparentCorner) {
  const std::uint32_t fullWidth = U32(b, 18), height = U32(b, 22);
  const unsigned bits = U16(b, 28);
  const std::size_t palette = 14 + U32(b, 14), rows = U32(b, 10);
  const std::uint32_t corner = PaletteRgb(b, palette, PixelAt(b, rows, fullWidth, height, bits, 0, height - 1));
  Picture p;
  p.width = width;
  p.height = height;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = left; x < left + width; ++x) {
      const std::uint32_t rgb = PaletteRgb(b, palette, PixelAt(b, rows, fullWidth, height, bits, x, y));
      p.rgb.push_back(rgb);
      p.drawn.push_back(!transparentCorner || rgb != corner);
    }
  }
  return p;
}

// The image of an icon file that is `side` pixels square, its mask telling what is drawn.
inline Picture IconPicture(const Bytes& b, std::uint32_t side) {
  Picture p;
  for (unsigned i = 0; i < U16(b, 4); ++i) {
    const std::size_t entry = 6 + 16 * i;
    if (b.at(entry) != side) continue;
    const std::size_t offset = U32(b, entry + 12), palette = offset + U32(b, offset);
    const unsigned bits = U16(b, offset + 14);
    const std::size_t colours = palette + (4u << bits), mask = colours + RowBytes(side, bits) * side;
    p.width = p.height = side;
    for (std::uint32_t y = 0; y < side; ++y) {
      for (std::uint32_t x = 0; x < side; ++x) {
        p.rgb.push_back(PaletteRgb(b, palette, PixelAt(b, colours, side, side, bits, x, y)));
        p.drawn.push_back(PixelAt(b, mask, side, side, 1, x, y) == 0);
      }
    }
  }
  return p;
}

}  // namespace clockagent::test
