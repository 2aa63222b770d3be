#include "applogic/image_rect.h"

#include <algorithm>
#include <utility>

namespace kavun {

namespace {

// The edges as 64-bit values, so that moving an edge by any 32-bit amount cannot overflow.
struct Edges {
  int64_t left, top, right, bottom;
};

Edges Normalised(const TRect& rect) {
  Edges e{rect.Left, rect.Top, rect.Right, rect.Bottom};
  if (e.right < e.left) std::swap(e.left, e.right);
  if (e.bottom < e.top) std::swap(e.top, e.bottom);
  return e;
}

TRect Clamped(Edges e, int64_t width, int64_t height) {
  e.left = std::clamp<int64_t>(e.left, 0, width - 1);
  e.top = std::clamp<int64_t>(e.top, 0, height - 1);
  e.right = std::clamp<int64_t>(e.right, e.left + 1, width);
  e.bottom = std::clamp<int64_t>(e.bottom, e.top + 1, height);
  return TRect{static_cast<int32_t>(e.left), static_cast<int32_t>(e.top),
               static_cast<int32_t>(e.right), static_cast<int32_t>(e.bottom)};
}

}  // namespace

TRect ClampIntoPicture(TRect rect, int32_t width, int32_t height) {
  return Clamped(Normalised(rect), width, height);
}

TRect MoveInsidePicture(TRect rect, int32_t dx, int32_t dy, int32_t width, int32_t height) {
  const TRect inside = ClampIntoPicture(rect, width, height);
  const int64_t w = int64_t{inside.Right} - inside.Left;
  const int64_t h = int64_t{inside.Bottom} - inside.Top;
  const int64_t left = std::clamp<int64_t>(int64_t{inside.Left} + dx, 0, width - w);
  const int64_t top = std::clamp<int64_t>(int64_t{inside.Top} + dy, 0, height - h);
  return Clamped({left, top, left + w, top + h}, width, height);
}

TRect ResizeInsidePicture(TRect rect, int32_t dw, int32_t dh, int32_t width, int32_t height) {
  const TRect inside = ClampIntoPicture(rect, width, height);
  return Clamped({inside.Left, inside.Top, int64_t{inside.Right} + dw, int64_t{inside.Bottom} + dh},
                 width, height);
}

bool LiesInsidePicture(const TRect& rect, int32_t width, int32_t height) noexcept {
  return !rect.IsEmpty() && rect.Left >= 0 && rect.Top >= 0 && rect.Right <= width &&
         rect.Bottom <= height;
}

}  // namespace kavun
