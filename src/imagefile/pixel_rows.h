#pragma once

// Helpers for rows of pixels as the coders read and write them, shared by the PNG and BMP
// coders: packed indices (leftmost pixel in the high bits), 2-bit rows widened to the bitmap's
// 4 bits, transparent pixels flattened onto white, little-endian fields.

#include <cstddef>
#include <cstdint>
#include <span>

namespace kavun::codec {

// The bytes of a row of `width` pixels of `bits` bits each, without padding.
constexpr std::size_t PackedRowBytes(std::size_t width, int bits) {
  return (width * static_cast<std::size_t>(bits) + 7) / 8;
}

// The palette index of pixel i of a row of `bits`-bit indices (`bits` 1, 2, 4 or 8).
inline int GetIndex(const uint8_t* row, std::size_t i, int bits) {
  const std::size_t bit = i * static_cast<std::size_t>(bits);
  const int shift = 8 - bits - static_cast<int>(bit % 8);
  return (row[bit / 8] >> shift) & ((1 << bits) - 1);
}

// Sets pixel x of a row of `bits`-bit indices to `index`, leaving its neighbours as they are.
inline void PutIndex(std::span<uint8_t> row, std::size_t x, int bits, int index) {
  const std::size_t bit = x * static_cast<std::size_t>(bits);
  const int shift = 8 - bits - static_cast<int>(bit % 8);
  const int mask = ((1 << bits) - 1) << shift;
  uint8_t& byte = row[bit / 8];
  byte = static_cast<uint8_t>((byte & ~mask) | ((index << shift) & mask));
}

// A row of `width` 2-bit indices as 4-bit ones: the bitmap has no 2-bit format.
inline void WidenTwoBitRow(const uint8_t* in, std::span<uint8_t> out, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x) {
    const int index = (in[x / 4] >> (6 - 2 * (x % 4))) & 3;
    uint8_t& byte = out[x / 2];
    byte = x % 2 == 0 ? static_cast<uint8_t>(index << 4) : static_cast<uint8_t>(byte | index);
  }
}

// A colour sample composited onto white by its alpha: opaque pixels keep their colour exactly.
constexpr uint8_t Flatten(uint8_t colour, uint8_t alpha) {
  return static_cast<uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

// One RGBA pixel at `rgba` flattened onto white into the blue, green, red bytes at `bgr`.
inline void FlattenRgbaPixel(const uint8_t* rgba, uint8_t* bgr) {
  bgr[0] = Flatten(rgba[2], rgba[3]);
  bgr[1] = Flatten(rgba[1], rgba[3]);
  bgr[2] = Flatten(rgba[0], rgba[3]);
}

// Little-endian fields of a file header.
inline uint16_t LoadLE16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace kavun::codec
