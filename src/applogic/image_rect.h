#pragma once

// Rectangles of image pixels chosen without the mouse: typed in as numbers, moved and resized
// by the arrow keys, or taken again from the last Execute. Each result lies inside the picture
// and holds at least one pixel.

#include <cstdint>

#include "engine/rect.h"

namespace kavun {

// The rectangle `rect` held inside a picture of width x height (both > 0): its left and top
// edges are brought into the picture first, then its right and bottom edges, keeping at least
// one pixel. A rectangle given inside out is taken with its edges swapped.
TRect ClampIntoPicture(TRect rect, int32_t width, int32_t height);

// `rect` moved by (dx, dy) pixels, its size kept, and stopped at the picture's edges.
TRect MoveInsidePicture(TRect rect, int32_t dx, int32_t dy, int32_t width, int32_t height);

// `rect` with its right edge moved by dw and its bottom edge by dh, kept inside the picture and
// at least one pixel wide and high.
TRect ResizeInsidePicture(TRect rect, int32_t dw, int32_t dh, int32_t width, int32_t height);

// Whether `rect` holds pixels and lies wholly inside a picture of width x height.
bool LiesInsidePicture(const TRect& rect, int32_t width, int32_t height) noexcept;

}  // namespace kavun
