#pragma once

#include <cstdint>

#include "engine/bitmap.h"
#include "engine/rect.h"

namespace kavun {

// Cuts `Rect` into whole blocks of BlockW x BlockH pixels, anchored at its top-left corner, and
// permutes the pixels of every block by the linear order of (Key1, Key2) — or, with Decode, by
// its inverse. An unusable order (no cells, negative sides, an irreversible order for Decode, or
// entries outside the block) sounds the beep and changes nothing, even without a bitmap.
void ReversibleMosaic(Bitmap* bitmap, TRect Rect, bool Decode, int32_t BlockW, int32_t BlockH,
                      int32_t Key1, int32_t Key2);

// The part of `rect` that the mosaic's whole blocks of blockW x blockH cover: from its top-left
// corner, (width div blockW) x blockW wide and (height div blockH) x blockH high. The columns
// right of it and the rows below it (inside `rect`) stay as they are. Without one whole block
// (or with a side that is not positive) the empty rectangle at the top-left corner,
// {Left, Top, Left, Top}.
TRect MosaicCoveredRect(const TRect& rect, int32_t blockW, int32_t blockH);

}  // namespace kavun
