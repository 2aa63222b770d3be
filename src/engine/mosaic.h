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

}  // namespace kavun
