#pragma once

// Small helpers shared by the engine tests: bitmaps filled with reproducible random bytes.

#include <cstdint>
#include <random>
#include <vector>

#include "engine/bitmap.h"

namespace kavun::testing_util {

// A bitmap whose every byte, padding included, is random, so that a transform that touches a
// padding byte or a pixel outside its rectangle is caught by a whole-buffer comparison.
inline Bitmap RandomBitmap(int32_t width, int32_t height, std::mt19937& rng,
                           PixelFormat format = PixelFormat::Bits24) {
  Bitmap bitmap(width, height, format);
  std::uniform_int_distribution<int> byte(0, 255);
  for (uint8_t& b : bitmap.Bits()) b = static_cast<uint8_t>(byte(rng));
  if (HasPalette(format)) {
    std::vector<PaletteEntry> palette(std::size_t{1} << BitsPerPixel(format));
    for (auto& e : palette) {
      e = {static_cast<uint8_t>(byte(rng)), static_cast<uint8_t>(byte(rng)),
           static_cast<uint8_t>(byte(rng))};
    }
    bitmap.SetPalette(std::move(palette));
  }
  return bitmap;
}

inline std::vector<uint8_t> Bytes(const Bitmap& bitmap) {
  return {bitmap.Bits().begin(), bitmap.Bits().end()};
}

// A 24-bit bitmap of one row holding exactly the given bytes (then zero padding).
inline Bitmap RowBitmap(const std::vector<uint8_t>& bytes) {
  Bitmap bitmap(static_cast<int32_t>(bytes.size() / 3), 1, PixelFormat::Bits24);
  std::copy(bytes.begin(), bytes.end(), bitmap.ScanLine(0).begin());
  return bitmap;
}

inline std::vector<uint8_t> RowBytes(const Bitmap& bitmap, int32_t y = 0) {
  auto row = bitmap.ScanLine(y);
  return {row.begin(), row.begin() + 3 * bitmap.Width()};
}

}  // namespace kavun::testing_util
