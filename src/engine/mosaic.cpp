#include "engine/mosaic.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/beep.h"
#include "engine/fast_kernels.h"
#include "engine/mosaic_usable_order.h"
#include "engine/transform_frame.h"

namespace kavun {

MosaicOrder UsableMosaicOrder(bool decode, int32_t block_w, int32_t block_h, int32_t key1,
                              int32_t key2) {
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

TRect MosaicCoveredRect(const TRect& rect, int32_t blockW, int32_t blockH) {
  const TRect none{rect.Left, rect.Top, rect.Left, rect.Top};
  if (blockW <= 0 || blockH <= 0 || rect.IsEmpty()) return none;
  // 64 bits: the sides of any rectangle, however far apart its edges.
  const int64_t w = int64_t{rect.Right} - rect.Left;
  const int64_t h = int64_t{rect.Bottom} - rect.Top;
  const int64_t coveredW = w / blockW * blockW;
  const int64_t coveredH = h / blockH * blockH;
  if (coveredW == 0 || coveredH == 0) return none;
  return TRect{rect.Left, rect.Top, static_cast<int32_t>(rect.Left + coveredW),
               static_cast<int32_t>(rect.Top + coveredH)};
}

// The selection is worked through in bands of BlockH rows and, within a band, in chunks of
// whole blocks. A chunk is first copied aside (about 16 KiB, so the copy stays in the
// first-level cache), then every pixel of the chunk is written in row order from its source
// cell in the copy. The source offsets depend only on the position inside the chunk, so they
// are computed once per call.
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

  const TRect covered = MosaicCoveredRect(Rect, BlockW, BlockH);
  if (covered.IsEmpty()) return;
  const int32_t block_cols = (covered.Right - covered.Left) / BlockW;
  const int32_t block_rows = (covered.Bottom - covered.Top) / BlockH;

  const auto bw = static_cast<std::size_t>(BlockW);
  const auto bh = static_cast<std::size_t>(BlockH);
  const std::size_t total_cols = static_cast<std::size_t>(block_cols) * bw;
  // About 16 KiB of pixels per chunk: the copy stays in the first-level cache.
  const std::size_t chunk_blocks = std::min(static_cast<std::size_t>(block_cols),
                                            std::max<std::size_t>(1, 16384 / (3 * bw * bh)));
  const std::size_t chunk = chunk_blocks * bw;  // pixels per chunk row
  const std::size_t copy_stride = 3 * chunk + 4;

  // source[r * chunk + c]: where the pixel written at row r, column c of a chunk comes from.
  std::vector<uint32_t> source(bh * chunk);
  for (std::size_t r = 0; r < bh; ++r) {
    for (std::size_t c = 0; c < chunk; ++c) {
      const std::size_t block_start = c - c % bw;
      const auto cell = static_cast<std::size_t>(order[r * bw + c % bw]);
      source[r * chunk + c] =
          static_cast<uint32_t>(cell / bw * copy_stride + 3 * (block_start + cell % bw));
    }
  }
  std::vector<uint8_t> copy(bh * copy_stride + 4);
  std::vector<uint8_t*> rows(bh);

  for (int32_t by = 0; by < block_rows; ++by) {
    const int32_t y0 = Rect.Top + by * BlockH;
    for (std::size_t r = 0; r < bh; ++r) {
      rows[r] = bitmap->ScanLine(y0 + static_cast<int32_t>(r)).data() + 3 * std::size_t(Rect.Left);
    }
    for (std::size_t x0 = 0; x0 < total_cols; x0 += chunk) {
      const std::size_t width = std::min(chunk, total_cols - x0);
      for (std::size_t r = 0; r < bh; ++r) {
        std::memcpy(copy.data() + r * copy_stride, rows[r] + 3 * x0, 3 * width);
      }
      for (std::size_t r = 0; r < bh; ++r) {
        kernels::GatherPixels(rows[r] + 3 * x0, copy.data(), source.data() + r * chunk, width);
      }
    }
  }
}

}  // namespace kavun
