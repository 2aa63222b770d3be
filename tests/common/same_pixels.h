#pragma once

// Whether two pictures show the same thing: the same size and the same displayed colour at
// every pixel, whatever their pixel formats. Shared by the tests of the window and of kavun-cli.

#include <cstdint>

#include "engine/bitmap.h"

namespace kavun::test {

inline bool SamePixels(const Bitmap& a, const Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int32_t y = 0; y < a.Height(); ++y) {
    for (int32_t x = 0; x < a.Width(); ++x) {
      if (!(a.PixelColor(x, y) == b.PixelColor(x, y))) return false;
    }
  }
  return true;
}

}  // namespace kavun::test
