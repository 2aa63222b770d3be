#pragma once

#include <optional>

#include "engine/bitmap.h"
#include "engine/rect.h"

namespace kavun {

// Looks at a picture for the one rectangle that the mosaic, the bit shift or the XOR transform
// scrambled and returns it exactly, ready for the inverse transform: for the mosaic the part
// its whole blocks cover. Returns nothing when the picture shows no such rectangle (a clean
// picture, or a scramble that left too little trace to place its edges to the pixel).
// A picture that is not 24-bit is looked at in its 24-bit form; the bitmap is not changed.
// Shares its work among as many threads as the machine has processors.
std::optional<TRect> DetectScrambledRect(const Bitmap& bitmap);
// The same on at most `threads` threads (0 counts as 1): the answer never depends on how many.
std::optional<TRect> DetectScrambledRect(const Bitmap& bitmap, unsigned threads);

}  // namespace kavun
