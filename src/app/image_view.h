#pragma once

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "app/mouse_widget.h"
#include "engine/bitmap.h"

// A QImage showing `bitmap` as it is displayed. A 24-bit or 32-bit bitmap is wrapped without a
// copy (its rows are padded to 4 bytes, which QImage accepts as stride); other depths are
// converted into a new 32-bit image. The result is valid until the bitmap changes.
QImage DisplayImageFor(const kavun::Bitmap& bitmap);

// The source rectangle of image pixels whose enlargement by `ratio` covers `exposed` (view
// coordinates), clipped to an image of width x height.
QRect SourceRectFor(const QRect& exposed, int32_t ratio, int32_t width, int32_t height);

// The image view (MainPBox), a paint box: each paint is reported as the Paint signal, whose handler
// draws with PaintArea (the working bitmap enlarged by the display ratio with pixel replication,
// only over the exposed region); mouse presses, moves and releases are reported in view
// coordinates.
class TImageView : public TMouseWidget {
  Q_OBJECT

 public:
  // `bitmap` gives the bitmap to show (null: nothing), `ratio` the display ratio.
  TImageView(std::function<const kavun::Bitmap*()> bitmap, std::function<int32_t()> ratio,
             QWidget* parent);

  // Must be called whenever the bitmap's size, format or pixel storage changed; rebuilds the
  // displayed image (a wrapper for 24/32-bit, a conversion otherwise) and repaints.
  void BitmapChanged();

  // Paints the area `exposed` of the view onto `painter` (used by the paint handler and the
  // benchmark).
  void PaintArea(QPainter& painter, const QRect& exposed);

 signals:
  // A paint of the view: `painter` draws on it, clipped to the exposed region; `exposed` bounds
  // that region in view coordinates. Only for direct connections (the painter lives for the
  // paint only).
  void Paint(QPainter& painter, const QRect& exposed);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void EnsureImage();

  std::function<const kavun::Bitmap*()> bitmap_;
  std::function<int32_t()> ratio_;
  QImage image_;
};
