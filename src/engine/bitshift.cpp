#include "engine/bitshift.h"

#include <cstddef>

#include "engine/transform_frame.h"

namespace kavun {
namespace {

constexpr uint32_t kColorMask = 0xFFFFFF;

// One pass from left to right; `carry` holds the one old value that is no longer in the row.
void RotateRowRight(uint8_t* first, std::size_t m, unsigned k) {
  const uint32_t low_mask = (1u << k) - 1;
  uint32_t carry = PackColor(first + 3 * (m - 1)) & low_mask;
  uint8_t* pixel = first;
  for (std::size_t x = 0; x < m; ++x, pixel += 3) {
    const uint32_t old = PackColor(pixel);
    UnpackColor((carry << (24 - k)) | (old >> k), pixel);
    carry = old & low_mask;
  }
}

void RotateRowLeft(uint8_t* first, std::size_t m, unsigned k) {
  const uint32_t carry = PackColor(first);  // the old first pixel, neighbour of the last one
  uint8_t* pixel = first;
  for (std::size_t x = 0; x < m; ++x, pixel += 3) {
    const uint32_t old = PackColor(pixel);
    const uint32_t next = x + 1 < m ? PackColor(pixel + 3) : carry;
    UnpackColor(((old << k) & kColorMask) | (next >> (24 - k)), pixel);
  }
}

}  // namespace

void BitShiftRotate(Bitmap* bitmap, TRect Rect, int32_t Shift) {
  if (!HasPixels(bitmap)) return;
  if (Shift >= 24) Shift = 23;
  if (Shift <= -24) Shift = -23;
  if (Shift == 0) return;
  BeginTransform(*bitmap, Rect);
  if (Rect.IsEmpty()) return;

  const auto k = static_cast<unsigned>(Shift > 0 ? Shift : -Shift);
  const auto m = static_cast<std::size_t>(Rect.Right - Rect.Left);
  const std::size_t offset = 3 * static_cast<std::size_t>(Rect.Left);
  for (int32_t y = Rect.Top; y < Rect.Bottom; ++y) {
    uint8_t* first = bitmap->ScanLine(y).data() + offset;
    if (Shift > 0) {
      RotateRowRight(first, m, k);
    } else {
      RotateRowLeft(first, m, k);
    }
  }
}

}  // namespace kavun
