#include "app/main_form.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

#include "app/busy_scope.h"
#include "app/image_view.h"
#include "app/main_form_parts.h"
#include "app/selection_widgets.h"
#include "applogic/image_rect.h"
#include "engine/beep.h"
#include "engine/detect.h"

using mainform::AddToolButton;

namespace {

kavun::TMouseButton ToModelButton(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return kavun::TMouseButton::Left;
    case Qt::RightButton:
      return kavun::TMouseButton::Right;
    default:
      return kavun::TMouseButton::Middle;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Selection rectangle

void TMainForm::BuildSelectionTools() {
  TB_SelMax = AddToolButton(ToolButtonPanel, "TB_SelMax", QStringLiteral("全体を選択"), 232,
                            TGlyph::SelectAll);
  mainform::SetButtonShortcuts(this, TB_SelMax, {QKeySequence(Qt::CTRL | Qt::Key_A)});
  connect(TB_SelMax, &QToolButton::clicked, this, &TMainForm::TB_SelMaxClick);
  TB_SelNum = AddToolButton(ToolButtonPanel, "TB_SelNum", QStringLiteral("選択範囲を数値で指定"),
                            256, TGlyph::SelectByNumber);
  connect(TB_SelNum, &QToolButton::clicked, this, &TMainForm::TB_SelNumClick);
  TB_SelLast = AddToolButton(ToolButtonPanel, "TB_SelLast", QStringLiteral("前回の範囲を選択"), 280,
                             TGlyph::SelectLast);
  connect(TB_SelLast, &QToolButton::clicked, this, &TMainForm::TB_SelLastClick);
  TB_SelDetect = AddToolButton(ToolButtonPanel, "TB_SelDetect", QStringLiteral("範囲を自動検出"),
                               304, TGlyph::DetectSelection);
  mainform::SetButtonShortcuts(this, TB_SelDetect, {QKeySequence(Qt::CTRL | Qt::Key_F)});
  connect(TB_SelDetect, &QToolButton::clicked, this, &TMainForm::TB_SelDetectClick);
}

void TMainForm::BuildSelectionShapes() {
  // The selection overlay, stacked above the view in this order.
  ImgSelShape = new TInvertingShape(TInvertingShape::TKind::Outline, ScrolledArea);
  ImgSelShape->setObjectName(QStringLiteral("ImgSelShape"));
  connect(ImgSelShape, &TInvertingShape::MouseDown, this, &TMainForm::ImgSelShapeMouseDown);
  connect(ImgSelShape, &TInvertingShape::MouseMove, this, &TMainForm::ImgSelShapeMouseMove);
  connect(ImgSelShape, &TInvertingShape::MouseUp, this, &TMainForm::ImgSelShapeMouseUp);
  ImgSelShape->installEventFilter(this);  // the middle button drags the view here too
  for (int k = 1; k <= 4; ++k) {
    auto* handle = new TInvertingShape(TInvertingShape::TKind::FilledSquare, ScrolledArea);
    handle->setObjectName(QStringLiteral("CornerShape%1").arg(k));
    handle->setGeometry(0, 0, kavun::TSelectionModel::kHandleWidth,
                        kavun::TSelectionModel::kHandleHeight);
    // One set of handlers for the four handles; they tell them apart by the sender's name.
    connect(handle, &TInvertingShape::MouseDown, this,
            [this, handle](Qt::MouseButton b, int x, int y) {
              CornerShape1MouseDown(handle, b, x, y);
            });
    connect(handle, &TInvertingShape::MouseMove, this,
            [this, handle](int x, int y) { CornerShape1MouseMove(handle, x, y); });
    connect(
        handle, &TInvertingShape::MouseUp, this,
        [this, handle](Qt::MouseButton b, int x, int y) { CornerShape1MouseUp(handle, b, x, y); });
    handle->installEventFilter(this);
    CornerShapes[static_cast<std::size_t>(k - 1)] = handle;
  }
}

void TMainForm::MirrorSelection() {
  const bool visible = selection_.Visible();
  const kavun::TViewBox box = selection_.ShapeGeometry();
  // The mosaic's clear strips are drawn on the view: repainted where the frame was and is.
  if (ProcValPageControl->currentIndex() == 0) {
    const QRect now(box.Left, box.Top, box.Width, box.Height);
    MainPBox->update(ImgSelShape->geometry().united(now).adjusted(-1, -1, 1, 1));
  }
  ImgSelShape->setGeometry(box.Left, box.Top, box.Width, box.Height);
  ImgSelShape->setVisible(visible);
  for (int k = 1; k <= 4; ++k) {
    const kavun::TViewPoint pos = selection_.HandlePos(k);
    TInvertingShape* handle = CornerShapes[static_cast<std::size_t>(k - 1)];
    handle->move(pos.X, pos.Y);
    handle->setVisible(visible);
  }
  ExecuteButton->setEnabled(selection_.ExecuteEnabled());
  StatusPanels[0]->setToolTip(MosaicClearText());
  UpdateSelectLastEnabled();
}

void TMainForm::ShowSelection() {
  selection_.ShowSelection();
  MirrorSelection();
}

void TMainForm::HideSelection() {
  selection_.HideSelection();
  MirrorSelection();
}

void TMainForm::MainPBoxMouseDown(Qt::MouseButton button, int x, int y) {
  MainPBox->repaint();
  selection_.MainPBoxMouseDown(ToModelButton(button), x, y);
  MirrorSelection();
}

void TMainForm::MainPBoxMouseMove(int x, int y) {
  RunCommand([&] {
    if (const std::optional<std::string> status = selection_.MainPBoxMouseMove(x, y)) {
      StatusPanels[0]->setText(QString::fromStdString(*status));
    }
    MirrorSelection();
  });
}

void TMainForm::MainPBoxMouseUp(Qt::MouseButton button, int x, int y) {
  selection_.MainPBoxMouseUp(ToModelButton(button), x, y);
  MirrorSelection();
}

namespace {

// A point of the frame widget in the model's terms: the widget sits at the geometric corner,
// the model counts the frame's events from its Left/Top.
kavun::TViewPoint FromFrameWidget(const kavun::TSelectionModel& selection, int x, int y) {
  const kavun::TViewBox box = selection.ShapeGeometry();
  const kavun::TViewPoint origin = selection.ShapeEventOrigin();
  return {x + box.Left - origin.X, y + box.Top - origin.Y};
}

}  // namespace

void TMainForm::ImgSelShapeMouseDown(Qt::MouseButton button, int x, int y) {
  const kavun::TViewPoint at = FromFrameWidget(selection_, x, y);
  selection_.ImgSelShapeMouseDown(ToModelButton(button), at.X, at.Y);
  MirrorSelection();
}

void TMainForm::ImgSelShapeMouseMove(int x, int y) {
  const kavun::TViewPoint at = FromFrameWidget(selection_, x, y);
  selection_.ImgSelShapeMouseMove(at.X, at.Y);
  MirrorSelection();
}

void TMainForm::ImgSelShapeMouseUp(Qt::MouseButton button, int x, int y) {
  const kavun::TViewPoint at = FromFrameWidget(selection_, x, y);
  selection_.ImgSelShapeMouseUp(ToModelButton(button), at.X, at.Y);
  MirrorSelection();
}

namespace {

// The number of the corner handle `sender` is: 1..4, 0 for anything else.
int HandleNumber(const std::array<TInvertingShape*, 4>& handles, const QObject* sender) {
  for (std::size_t i = 0; i < handles.size(); ++i) {
    if (sender != nullptr && handles[i] == sender) return static_cast<int>(i) + 1;
  }
  return 0;
}

}  // namespace

void TMainForm::CornerShape1MouseDown(QObject* sender, Qt::MouseButton button, int x, int y) {
  selection_.CornerShapeMouseDown(HandleNumber(CornerShapes, sender), ToModelButton(button), x, y);
  MirrorSelection();
}

void TMainForm::CornerShape1MouseMove(QObject* sender, int x, int y) {
  selection_.CornerShapeMouseMove(HandleNumber(CornerShapes, sender), x, y);
  MirrorSelection();
}

void TMainForm::CornerShape1MouseUp(QObject* sender, Qt::MouseButton button, int x, int y) {
  selection_.CornerShapeMouseUp(HandleNumber(CornerShapes, sender), ToModelButton(button), x, y);
  MirrorSelection();
}

void TMainForm::SetSelectAllEnabled(bool enabled) {
  documentOpen_ = enabled;
  TB_SelMax->setEnabled(enabled);
  TB_SelNum->setEnabled(enabled);
  TB_SelDetect->setEnabled(enabled);
  UpdateSelectLastEnabled();
}

void TMainForm::UpdateSelectLastEnabled() {
  if (!GlobalValue) return;
  const kavun::Bitmap& bitmap = GlobalValue->WorkBitmap;
  TB_SelLast->setEnabled(
      documentOpen_ && lastSelection_.has_value() &&
      kavun::LiesInsidePicture(*lastSelection_, bitmap.Width(), bitmap.Height()));
}

void TMainForm::SetLastSelection(const kavun::TRect& rect) {
  if (rect.IsEmpty()) return;
  lastSelection_ = rect;
  UpdateSelectLastEnabled();
}

void TMainForm::SelectImageRect(const kavun::TRect& rect) {
  selection_.SelectImageRect(rect);
  MirrorSelection();
}

void TMainForm::TB_SelNumClick() {
  RunCommand([this] {
    const int32_t w = GlobalValue->WorkBitmap.Width();
    const int32_t h = GlobalValue->WorkBitmap.Height();
    if (w <= 0 || h <= 0) return;
    kavun::TRect initial{0, 0, w, h};
    if (selection_.Visible()) {
      const kavun::TRect shown = selection_.SelectionImageRect();
      if (!shown.IsEmpty()) initial = kavun::ClampIntoPicture(shown, w, h);
    }
    const std::optional<kavun::TRect> typed = dialogs_->AskSelectionRect(initial, w, h);
    if (!typed) return;
    const bool inside = kavun::LiesInsidePicture(*typed, w, h);
    const kavun::TRect rect = kavun::ClampIntoPicture(*typed, w, h);
    // A rectangle that had to be brought into the picture is selected all the same; the beep
    // says that it is not what was typed.
    if (!inside) kavun::Beep();
    SelectImageRect(rect);
    RevealSelection();
  });
}

void TMainForm::TB_SelLastClick() {
  RunCommand([this] {
    const int32_t w = GlobalValue->WorkBitmap.Width();
    const int32_t h = GlobalValue->WorkBitmap.Height();
    if (!lastSelection_ || !kavun::LiesInsidePicture(*lastSelection_, w, h)) {
      kavun::Beep();
      return;
    }
    SelectImageRect(*lastSelection_);
    RevealSelection();
  });
}

bool TMainForm::ImgBaseScrollBoxKeyPress(QKeyEvent* key) {
  if (!selection_.Visible()) return false;
  const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
  if (mods != Qt::NoModifier && mods != Qt::ShiftModifier) return false;
  int dx = 0;
  int dy = 0;
  switch (key->key()) {
    case Qt::Key_Left:
      dx = -1;
      break;
    case Qt::Key_Right:
      dx = 1;
      break;
    case Qt::Key_Up:
      dy = -1;
      break;
    case Qt::Key_Down:
      dy = 1;
      break;
    default:
      return false;
  }
  const int32_t w = GlobalValue->WorkBitmap.Width();
  const int32_t h = GlobalValue->WorkBitmap.Height();
  const kavun::TRect shown = selection_.SelectionImageRect();
  if (w <= 0 || h <= 0 || shown.IsEmpty()) return false;
  const kavun::TRect inside = kavun::ClampIntoPicture(shown, w, h);
  const kavun::TRect rect = mods == Qt::ShiftModifier
                                ? kavun::ResizeInsidePicture(inside, dx, dy, w, h)
                                : kavun::MoveInsidePicture(inside, dx, dy, w, h);
  SelectImageRect(rect);
  RevealSelection();
  // The edge that moved comes into view too when the selection is larger than the view.
  const int32_t r = GlobalValue->GetRatio();
  const int edgeX = dx < 0 && mods == Qt::NoModifier ? rect.Left : rect.Right - 1;
  const int edgeY = dy < 0 && mods == Qt::NoModifier ? rect.Top : rect.Bottom - 1;
  ScrollIntoView(dx != 0 ? QRect(edgeX * r, rect.Top * r, r, r)
                         : QRect(rect.Left * r, edgeY * r, r, r));
  return true;
}

void TMainForm::TB_SelMaxClick() {
  RunCommand([this] {
    selection_.SelectAll(GlobalValue->WorkBitmap.Width(), GlobalValue->WorkBitmap.Height());
    MirrorSelection();
  });
}

void TMainForm::TB_SelDetectClick() {
  RunCommand([this] {
    if (GlobalValue->WorkBitmap.IsEmpty()) return;
    std::optional<kavun::TRect> found;
    {
      // Busy like Execute: the window is disabled and takes no input while the picture is
      // searched, and enabled again however the search ends.
      struct TEnableAgain {
        QWidget* window;
        ~TEnableAgain() { window->setEnabled(true); }
      } enableAgain{this};
      setEnabled(false);
      TBusyScope busy(this);
      found = kavun::DetectScrambledRect(GlobalValue->WorkBitmap);
    }
    if (!found) {
      StatusPanels[1]->setText(QStringLiteral(
          "自動検出: 変換された範囲は見つかりませんでした。選択範囲はそのままです。"));
      return;
    }
    SelectImageRect(*found);
    RevealSelection();  // scrolled into view, its position and size in the first panel
    StatusPanels[1]->setText(QStringLiteral("自動検出: 変換された範囲を選択しました。"));
  });
}
