#include "engine/reference_transforms.h"

#include <cstddef>
#include <vector>

#include "engine/beep.h"
#include "engine/md5.h"
#include "engine/mosaic_usable_order.h"
#include "engine/mtwister.h"
#include "engine/transform_frame.h"

namespace kavun::reference {
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

void ReversibleMosaic(Bitmap* bitmap, TRect Rect, bool Decode, int32_t BlockW, int32_t BlockH,
                      int32_t Key1, int32_t Key2) {
  const MosaicOrder order = UsableMosaicOrder(Decode, BlockW, BlockH, Key1, Key2);
  if (order.empty()) {
    Beep();
    return;
  }
  if (!HasPixels(bitmap)) return;
  BeginTransform(*bitmap, Rect);
  if (Rect.IsEmpty()) return;

  const int32_t block_cols = (Rect.Right - Rect.Left) / BlockW;
  const int32_t block_rows = (Rect.Bottom - Rect.Top) / BlockH;
  const auto bw = static_cast<std::size_t>(BlockW);
  std::vector<uint32_t> old_cells(order.size());
  for (int32_t by = 0; by < block_rows; ++by) {
    const int32_t y0 = Rect.Top + by * BlockH;
    for (int32_t bx = 0; bx < block_cols; ++bx) {
      const std::size_t x0 =
          static_cast<std::size_t>(Rect.Left) + static_cast<std::size_t>(bx) * bw;
      // Gather the block's colour values, row by row.
      for (int32_t r = 0; r < BlockH; ++r) {
        const uint8_t* pixel = bitmap->ScanLine(y0 + r).data() + 3 * x0;
        uint32_t* cell = old_cells.data() + static_cast<std::size_t>(r) * bw;
        for (std::size_t c = 0; c < bw; ++c, pixel += 3) cell[c] = PackColor(pixel);
      }
      // Cell k receives the pixel of cell order[k].
      for (int32_t r = 0; r < BlockH; ++r) {
        uint8_t* pixel = bitmap->ScanLine(y0 + r).data() + 3 * x0;
        const int32_t* source = order.data() + static_cast<std::size_t>(r) * bw;
        for (std::size_t c = 0; c < bw; ++c, pixel += 3) {
          UnpackColor(old_cells[static_cast<std::size_t>(source[c])], pixel);
        }
      }
    }
  }
}

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

void XorKeystream(Bitmap* bitmap, TRect rect, XorKeyMode mode, std::string_view password) {
  if (!HasPixels(bitmap)) return;
  BeginTransform(*bitmap, rect);
  PasswordDigestResult digest = PasswordDigest(password);
  if (mode == XorKeyMode::MTwister) MTInit(MTwisterSeed(digest.Key));
  if (rect.IsEmpty()) return;

  int32_t counter = 0;
  for (int32_t y = rect.Top; y < rect.Bottom; ++y) {
    uint8_t* row = bitmap->ScanLine(y).data();
    counter %= 16;
    for (int32_t x = rect.Left; x < rect.Right; ++x) {
      if (counter == 0 && mode == XorKeyMode::MD5OFB) {
        PasswordDigestResult next = PasswordDigest(digest.HexText);
        digest = std::move(next);
      }
      uint8_t* pixel = row + 3 * static_cast<std::size_t>(x);
      pixel[2] ^= XorKeyByte(mode, counter++, digest.Key);
      pixel[1] ^= XorKeyByte(mode, counter++, digest.Key);
      pixel[0] ^= XorKeyByte(mode, counter++, digest.Key);
    }
  }
  SecureZero(digest.Key.data(), digest.Key.size());
  SecureZero(digest.HexText.data(), digest.HexText.size());
}

}  // namespace kavun::reference
