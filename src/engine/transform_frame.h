#pragma once

#include "engine/bitmap.h"
#include "engine/rect.h"

namespace kavun {

// What every transform shares. A transform first returns silently when the variable holds no
// bitmap or the bitmap has no pixels (HasPixels). Then, once its own parameters have passed,
// BeginTransform refuses a non-empty rectangle that reaches outside the bitmap — before anything
// is changed, so that a picture is never left half-scrambled — and brings the bitmap to 24 bits
// per pixel. An empty rectangle passes: no pixel changes, but the bitmap is still converted.
inline bool HasPixels(const Bitmap* bitmap) noexcept {
  return bitmap != nullptr && !bitmap->IsEmpty();
}

void CheckRectInside(const Bitmap& bitmap, const TRect& rect);
// Like CheckRectInside, but an empty rectangle must lie inside too (a command line that names
// one outside the picture is a mistake even though it would change nothing).
void CheckRectWithin(const Bitmap& bitmap, const TRect& rect);
void BeginTransform(Bitmap& bitmap, const TRect& rect);

}  // namespace kavun
