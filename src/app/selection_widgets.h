#pragma once

#include <QWidget>

#include "app/mouse_widget.h"

// The selection rectangle's outline (ImgSelShape) and its corner handles (CornerShape1..4):
// small children of the scrolled area over the image view, drawn so that they invert whatever
// lies beneath them and stay visible on any picture. They report presses, moves and releases
// relative to their own top-left corner.
class TInvertingShape : public TMouseWidget {
  Q_OBJECT

 public:
  enum class TKind { Outline, FilledSquare };

  TInvertingShape(TKind kind, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TKind kind_;
};
