#pragma once

#include <QDialog>

#include <array>
#include <cstdint>

#include "engine/rect.h"

class QLabel;
class QLineEdit;

// The dialog of 選択範囲を数値で指定: the selection's left, top, width and height in image
// pixels. The fields take digits only, like the processing panel's; the window clamps what
// was typed into the picture.
class TSelNumForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSelNumForm(QWidget* parent = nullptr);

  // Shows the picture's size under the fields (nothing while either side is 0).
  void SetPictureSize(int32_t width, int32_t height);
  // Fills the fields with `rect` (left, top, width, height).
  void SetRect(const kavun::TRect& rect);
  // The rectangle the fields describe; an empty field counts as 0.
  kavun::TRect Rect() const;

  QLineEdit* Edit_SelNumLeft = nullptr;
  QLineEdit* Edit_SelNumTop = nullptr;
  QLineEdit* Edit_SelNumWidth = nullptr;
  QLineEdit* Edit_SelNumHeight = nullptr;
  QLabel* PictureSizeLabel = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::array<QLineEdit*, 4> Fields() const;
};
