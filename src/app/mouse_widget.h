#pragma once

#include <QWidget>

// A widget that reports its mouse presses, moves and releases as signals, with coordinates
// relative to its own top-left corner. Qt's implicit grab keeps the pressing widget the receiver
// of the moves and the release, like the mouse capture the handlers rely on.
class TMouseWidget : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;

 signals:
  void MouseDown(Qt::MouseButton button, int x, int y);
  void MouseMove(int x, int y);
  void MouseUp(Qt::MouseButton button, int x, int y);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};
