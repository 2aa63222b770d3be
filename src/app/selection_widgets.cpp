#include "app/selection_widgets.h"

#include <QPainter>

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
}
