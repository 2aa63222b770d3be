#pragma once

#include <cstdint>

#include "engine/bitmap.h"
#include "engine/rect.h"

namespace kavun {

// Takes the pixels of every row of `Rect` as one bit string (each pixel's bytes blue, green, red,
// most significant bit first) and rotates it cyclically: right for a positive `Shift`, left for a
// negative one, by |Shift| bits clamped to 23. A shift of 0 returns before anything is converted.
void BitShiftRotate(Bitmap* bitmap, TRect Rect, int32_t Shift);

}  // namespace kavun
