#include "engine/bitshift.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "engine/fast_kernels.h"
#include "engine/transform_frame.h"

namespace kavun {

// A row's pixels, bytes in storage order and each byte from its most significant bit, form one
// bit string. Rotating it by k = 8q + r bits makes every new byte out of two neighbouring old
// bytes: right, new[j] = old[j-q-1] << (8-r) | old[j-q] >> r; left, new[j] = old[j+q] << r |
// old[j+q+1] >> (8-r), indices taken round the row. The row is copied aside with three bytes of
// its other end on either side, so that the new bytes can be written straight into the row.
void BitShiftRotate(Bitmap* bitmap, TRect Rect, int32_t Shift) {
  if (!HasPixels(bitmap)) return;
  if (Shift >= 24) Shift = 23;
  if (Shift <= -24) Shift = -23;
  if (Shift == 0) return;
  BeginTransform(*bitmap, Rect);
  if (Rect.IsEmpty()) return;

  const auto k = static_cast<unsigned>(Shift > 0 ? Shift : -Shift);
  const unsigned q = k / 8;
  const unsigned r = k % 8;
  const std::size_t len = 3 * static_cast<std::size_t>(Rect.Right - Rect.Left);
  const std::size_t offset = 3 * static_cast<std::size_t>(Rect.Left);
  // ext[i + 3] = old[i] for -3 <= i < len + 3 (len is at least 3).
  std::vector<uint8_t> ext(len + 8);
  const std::size_t start = Shift > 0 ? 2 - q : 3 + q;
  const unsigned s1 = Shift > 0 ? 8 - r : r;
  const unsigned s2 = 8 - s1;
  for (int32_t y = Rect.Top; y < Rect.Bottom; ++y) {
    uint8_t* row = bitmap->ScanLine(y).data() + offset;
    std::memcpy(ext.data(), row + len - 3, 3);
    std::memcpy(ext.data() + 3, row, len);
    std::memcpy(ext.data() + 3 + len, row, 3);
    kernels::CombineShiftedBytes(row, ext.data() + start, len, s1, s2);
  }
}

}  // namespace kavun
