#include "engine/mosaic.h"

#include <cstddef>
#include <limits>
#include <vector>

#include "engine/beep.h"
#include "engine/mosaic_order.h"
#include "engine/transform_frame.h"

namespace kavun {
namespace {

// The order for this call, or empty when the transform must refuse.
MosaicOrder UsableOrder(bool decode, int32_t block_w, int32_t block_h, int32_t key1, int32_t key2) {
  if (block_w <= 0 || block_h <= 0) return {};
  const int64_t cells = int64_t{block_w} * block_h;
  if (cells > std::numeric_limits<int32_t>::max()) return {};
  const auto n = static_cast<int32_t>(cells);
  MosaicOrder order = decode ? MakeInverseOrder(key1, key2, n) : MakeLinearOrder(key1, key2, n);
  for (const int32_t entry : order) {
    if (entry < 0 || entry >= n) return {};
  }
  return order;
}

}  // namespace

void ReversibleMosaic(Bitmap* bitmap, TRect Rect, bool Decode, int32_t BlockW, int32_t BlockH,
                      int32_t Key1, int32_t Key2) {
  const MosaicOrder order = UsableOrder(Decode, BlockW, BlockH, Key1, Key2);
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
      const auto x0 = static_cast<std::size_t>(Rect.Left + bx * BlockW);
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

}  // namespace kavun
