#include "app/image_view.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

QImage DisplayImageFor(const kavun::Bitmap& bitmap) {
  if (bitmap.IsEmpty()) return {};
  const auto stride = static_cast<qsizetype>(bitmap.Stride());
  const uchar* bits = bitmap.Bits().data();
  switch (bitmap.Format()) {
    case kavun::PixelFormat::Bits24:
      return QImage(bits, bitmap.Width(), bitmap.Height(), stride, QImage::Format_BGR888);
    case kavun::PixelFormat::Bits32:
      return QImage(bits, bitmap.Width(), bitmap.Height(), stride, QImage::Format_RGB32);
    default:
      break;
  }
  QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
  if (image.isNull()) return image;  // no memory for the display copy: the view stays empty
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int32_t x = 0; x < bitmap.Width(); ++x) {
      const kavun::PaletteEntry c = bitmap.PixelColor(x, y);
      line[x] = qRgb(c.Red, c.Green, c.Blue);
    }
  }
  return image;
}

QRect SourceRectFor(const QRect& exposed, int32_t ratio, int32_t width, int32_t height) {
  if (ratio < 1 || exposed.isEmpty()) return {};
  const int x0 = std::clamp(exposed.left() / ratio, 0, width);
  const int y0 = std::clamp(exposed.top() / ratio, 0, height);
  const int x1 = std::clamp((exposed.right() + ratio) / ratio, 0, width);  // exclusive
  const int y1 = std::clamp((exposed.bottom() + ratio) / ratio, 0, height);
  if (x1 <= x0 || y1 <= y0) return {};
  return QRect(x0, y0, x1 - x0, y1 - y0);
}

TImageView::TImageView(std::function<const kavun::Bitmap*()> bitmap, std::function<int32_t()> ratio,
                       QWidget* parent)
    : TMouseWidget(parent), bitmap_(bitmap), ratio_(std::move(ratio)) {
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TImageView::BitmapChanged() {
  const kavun::Bitmap* bitmap = bitmap_();
  image_ = bitmap != nullptr ? DisplayImageFor(*bitmap) : QImage();
  update();
}

void TImageView::EnsureImage() {
  // A transform may have converted or reallocated the pixels since the last BitmapChanged; a
  // wrapper must never point at released storage.
  const kavun::Bitmap* bitmap = bitmap_();
  if (bitmap == nullptr || bitmap->IsEmpty()) {
    if (!image_.isNull()) image_ = QImage();
    return;
  }
  const bool wraps = bitmap->Format() == kavun::PixelFormat::Bits24 ||
                     bitmap->Format() == kavun::PixelFormat::Bits32;
  if (image_.width() != bitmap->Width() || image_.height() != bitmap->Height() ||
      (wraps && image_.constBits() != bitmap->Bits().data()) ||
      (wraps && image_.format() != (bitmap->Format() == kavun::PixelFormat::Bits24
                                        ? QImage::Format_BGR888
                                        : QImage::Format_RGB32))) {
    image_ = DisplayImageFor(*bitmap);
  }
}

void TImageView::PaintArea(QPainter& painter, const QRect& exposed) {
  EnsureImage();
  if (image_.isNull()) return;
  const int32_t r = ratio_();
  const QRect source = SourceRectFor(exposed, r, image_.width(), image_.height());
  if (source.isEmpty()) return;
  const QRect target(source.x() * r, source.y() * r, source.width() * r, source.height() * r);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(target, image_, source);
}

void TImageView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setClipRegion(event->region());
  emit Paint(painter, event->rect());
}
