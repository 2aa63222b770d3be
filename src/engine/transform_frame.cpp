#include "engine/transform_frame.h"

#include <string>

#include "engine/error.h"

namespace kavun {

void CheckRectInside(const Bitmap& bitmap, const TRect& rect) {
  if (!rect.IsEmpty()) CheckRectWithin(bitmap, rect);
}

void CheckRectWithin(const Bitmap& bitmap, const TRect& rect) {
  if (rect.Left < 0 || rect.Top < 0 || rect.Right > bitmap.Width() ||
      rect.Bottom > bitmap.Height()) {
    // Nothing is changed: the caller learns which rectangle and which picture did not fit.
    throw Error(ErrorKind::OutsideRectangle, "",
                std::to_string(rect.Left) + "," + std::to_string(rect.Top) + "," +
                    std::to_string(rect.Right) + "," + std::to_string(rect.Bottom) +
                    kDetailSeparator + std::to_string(bitmap.Width()) + " x " +
                    std::to_string(bitmap.Height()));
  }
}

void BeginTransform(Bitmap& bitmap, const TRect& rect) {
  CheckRectInside(bitmap, rect);
  bitmap.ConvertTo24();
}

}  // namespace kavun
