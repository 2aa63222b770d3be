#pragma once

#include <cstdint>

namespace kavun {

// A rectangle of image pixels: Left and Top inclusive, Right and Bottom exclusive.
struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  constexpr bool IsEmpty() const noexcept { return Right <= Left || Bottom <= Top; }
  friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

// The colour value of a 24-bit pixel: red in bits 0-7, green in 8-15, blue in 16-23. Read from
// bit 23 down it is the pixel's stored bytes blue, green, red in storage order.
constexpr uint32_t PackColor(const uint8_t* pixel) noexcept {
  return static_cast<uint32_t>(pixel[2]) | (static_cast<uint32_t>(pixel[1]) << 8) |
         (static_cast<uint32_t>(pixel[0]) << 16);
}

constexpr void UnpackColor(uint32_t value, uint8_t* pixel) noexcept {
  pixel[0] = static_cast<uint8_t>(value >> 16);  // blue
  pixel[1] = static_cast<uint8_t>(value >> 8);   // green
  pixel[2] = static_cast<uint8_t>(value);        // red
}

}  // namespace kavun
