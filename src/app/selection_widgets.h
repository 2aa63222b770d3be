#pragma once

#include <QWidget>

// The selection rectangle's outline (ImgSelShape) and its corner handles (CornerShape1..4):
// small children of the scrolled area over the image view, drawn so that they invert whatever
// lies beneath them and stay visible on any picture. They report presses, moves and releases
// relative to their own top-left corner.
class TInvertingShape : public QWidget {
  Q_OBJECT

 public:
  enum class TKind { Outline, FilledSquare };

  TInvertingShape(TKind kind, QWidget* parent);

 signals:
  void MouseDown(Qt::MouseButton button, int x, int y);
  void MouseMove(int x, int y);
  void MouseUp(Qt::MouseButton button, int x, int y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TKind kind_;
};
