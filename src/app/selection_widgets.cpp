#include "app/selection_widgets.h"

#include <QPainter>

namespace {

constexpr qreal kDash = 4;  // pixels of each black and each white dash

}  // namespace

TInvertingShape::TInvertingShape(TKind kind, QWidget* parent) : TMouseWidget(parent), kind_(kind) {
  // Nothing of its own beneath the drawing: the view shows through and is inverted.
  setAttribute(Qt::WA_NoSystemBackground, true);
  setAutoFillBackground(false);
  setCursor(kind == TKind::Outline ? Qt::PointingHandCursor : Qt::SizeAllCursor);
}

void TInvertingShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // White under "difference" turns every pixel beneath into its inverse, like an inverting pen.
  painter.setCompositionMode(QPainter::CompositionMode_Difference);
  if (kind_ == TKind::FilledSquare) {
    painter.fillRect(rect(), Qt::white);
    return;
  }
  if (width() <= 0 || height() <= 0) return;
  const int right = width() - 1;
  const int bottom = height() - 1;
  painter.fillRect(QRect(0, 0, width(), 1), Qt::white);
  if (bottom > 0) painter.fillRect(QRect(0, bottom, width(), 1), Qt::white);
  if (height() > 2) {
    painter.fillRect(QRect(0, 1, 1, height() - 2), Qt::white);
    if (right > 0) painter.fillRect(QRect(right, 1, 1, height() - 2), Qt::white);
  }
  // Inverted noise is noise: a ring of black and white dashes just inside the inverted one
  // keeps the frame visible on a scrambled picture.
  if (width() < 3 || height() < 3) return;
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  const QRect ring(1, 1, width() - 3, height() - 3);
  painter.setPen(QPen(Qt::black, 0));
  painter.drawRect(ring);
  QPen dashes(Qt::white, 0);
  dashes.setDashPattern({kDash, kDash});
  painter.setPen(dashes);
  painter.drawRect(ring);
}
