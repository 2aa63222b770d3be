#include "app/mouse_widget.h"

#include <QMouseEvent>

void TMouseWidget::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  emit MouseDown(event->button(), p.x(), p.y());
}

void TMouseWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  emit MouseMove(p.x(), p.y());
}

void TMouseWidget::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  emit MouseUp(event->button(), p.x(), p.y());
}
