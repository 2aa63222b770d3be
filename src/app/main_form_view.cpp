#include "app/main_form.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "app/image_view.h"
#include "app/main_form_parts.h"
#include "app/selection_widgets.h"
#include "engine/mosaic.h"
#include "engine/transform_params.h"

using mainform::AddToolButton;

// ---------------------------------------------------------------------------------------------
// Image view and zoom

void TMainForm::BuildViewMenu() {
  MainMenu_PR = menuBar()->addMenu(QStringLiteral("表示倍率"));
  MainMenu_PR->setObjectName(QStringLiteral("MainMenu_PR"));
  MainMenu_PR->menuAction()->setObjectName(QStringLiteral("MainMenu_PR"));
  ratioGroup_ = new QActionGroup(this);
  ratioGroup_->setExclusive(true);
  for (int tag = kMinRatio; tag <= kMaxRatio; ++tag) {
    const QString caption = QString::number(tag * 100) + u'%';
    auto* action = new QAction(caption, this);
    action->setObjectName(QStringLiteral("MainMenu_PR_") + QString::number(tag * 100));
    action->setCheckable(true);
    action->setChecked(tag == kMinRatio);
    action->setData(tag);  // the item's Tag: its ratio
    ratioGroup_->addAction(action);
    MainMenu_PR->addAction(action);
    connect(action, &QAction::triggered, this, &TMainForm::MainMenu_PR_100Click);
    MainMenu_PR_Items[static_cast<std::size_t>(tag - kMinRatio)] = action;
  }
}

void TMainForm::BuildViewTools() {
  TB_RatioPlus =
      AddToolButton(ToolButtonPanel, "TB_RatioPlus", QStringLiteral("拡大"), 160, TGlyph::ZoomIn);
  TB_RatioMinus =
      AddToolButton(ToolButtonPanel, "TB_RatioMinus", QStringLiteral("縮小"), 184, TGlyph::ZoomOut);
  mainform::SetButtonShortcuts(
      this, TB_RatioPlus,
      {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
  mainform::SetButtonShortcuts(this, TB_RatioMinus, {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
  connect(TB_RatioPlus, &QToolButton::clicked, this, &TMainForm::TB_RatioPlusClick);
  connect(TB_RatioMinus, &QToolButton::clicked, this, &TMainForm::TB_RatioMinusClick);
}

void TMainForm::BuildView() {
  ImgBaseScrollBox = new QScrollArea(this);
  ImgBaseScrollBox->setObjectName(QStringLiteral("ImgBaseScrollBox"));
  ImgBaseScrollBox->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  // The scrolled area fills at least the whole viewport, the picture at its top-left corner,
  // so that the selection's frame and handles draw and take the mouse also where they reach
  // past the picture's edge; it scrolls only when the picture is larger than the viewport.
  ImgBaseScrollBox->setWidgetResizable(true);
  ImgBaseScrollBox->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ScrolledArea = new QWidget;
  ScrolledArea->setObjectName(QStringLiteral("ScrolledArea"));
  MainPBox = new TImageView(
      [this]() -> const kavun::Bitmap* { return GlobalValue ? &GlobalValue->WorkBitmap : nullptr; },
      [this] { return GlobalValue ? GlobalValue->GetRatio() : 1; }, ScrolledArea);
  MainPBox->setObjectName(QStringLiteral("MainPBox"));
  ImgBaseScrollBox->setWidget(ScrolledArea);
  // Focused by a click or Tab, the view takes the arrow keys that move the selection.
  ImgBaseScrollBox->setFocusPolicy(Qt::StrongFocus);
  ImgBaseScrollBox->installEventFilter(this);
  // Ctrl+wheel zooms and the middle button (or Space and the left one) drags the view; the
  // wheel reaches the viewport after the view and the overlay ignored it, the presses are
  // taken before the view and the overlay see them.
  ImgBaseScrollBox->viewport()->installEventFilter(this);
  MainPBox->installEventFilter(this);
  // Whether the view has the keyboard (the arrow keys move the selection only then) shows in
  // its frame.
  designedFrameStyle_ = ImgBaseScrollBox->frameStyle();
  designedLineWidth_ = ImgBaseScrollBox->frameWidth();
  // The mosaic's clear strips follow the page shown and the block size typed.
  connect(ProcValPageControl, &QStackedWidget::currentChanged, this, [this](int page) {
    MainPBox->update();
    StatusPanels[0]->setToolTip(MosaicClearText());
    if (page == 0 && !MosaicClearText().isEmpty()) StatusPanels[0]->setText(MosaicClearText());
  });
  for (QLineEdit* edit : {Edit_ProcRevMosBlockW, Edit_ProcRevMosBlockH}) {
    connect(edit, &QLineEdit::textChanged, this, [this] {
      MainPBox->update();
      StatusPanels[0]->setToolTip(MosaicClearText());
    });
    connect(edit, &QLineEdit::editingFinished, this, [this] {
      if (!MosaicClearText().isEmpty()) StatusPanels[0]->setText(MosaicClearText());
    });
  }
  connect(MainPBox, &TImageView::Paint, this, &TMainForm::MainPBoxPaint, Qt::DirectConnection);
  connect(MainPBox, &TImageView::MouseDown, this, &TMainForm::MainPBoxMouseDown);
  connect(MainPBox, &TImageView::MouseMove, this, &TMainForm::MainPBoxMouseMove);
  connect(MainPBox, &TImageView::MouseUp, this, &TMainForm::MainPBoxMouseUp);
}

void TMainForm::MainPBoxPaint(QPainter& painter, const QRect& exposed) {
  // Drawn anew on every paint from the working bitmap; nothing scaled is kept.
  MainPBox->PaintArea(painter, exposed);
  PaintMosaicClearStrips(painter);
}

namespace {

// The block side a panel field holds, or 0 while its text is no side the mosaic takes.
int32_t BlockSide(const QLineEdit* edit) {
  bool ok = false;
  const int value = edit->text().toInt(&ok);
  const kavun::TNumericParam& range = kavun::NumericParam(kavun::TParamId::BlockW);
  return ok && value >= range.Low && value <= range.High ? value : 0;
}

}  // namespace

QString TMainForm::MosaicClearText() const {
  if (!selection_.Visible() || ProcValPageControl->currentIndex() != 0) return {};
  const int32_t bw = BlockSide(Edit_ProcRevMosBlockW);
  const int32_t bh = BlockSide(Edit_ProcRevMosBlockH);
  if (bw == 0 || bh == 0) return {};
  const kavun::TRect rect = selection_.SelectionImageRect();
  if (rect.IsEmpty()) return {};
  const kavun::TRect covered = kavun::MosaicCoveredRect(rect, bw, bh);
  if (covered.IsEmpty()) return QStringLiteral("ブロックに満たず全体がそのまま");
  const int32_t columns = rect.Right - covered.Right;
  const int32_t rows = rect.Bottom - covered.Bottom;
  if (columns > 0 && rows > 0) {
    return QStringLiteral("右 %1 列・下 %2 行はそのまま").arg(columns).arg(rows);
  }
  if (columns > 0) return QStringLiteral("右 %1 列はそのまま").arg(columns);
  if (rows > 0) return QStringLiteral("下 %1 行はそのまま").arg(rows);
  return {};
}

void TMainForm::PaintMosaicClearStrips(QPainter& painter) {
  if (!selection_.Visible() || ProcValPageControl->currentIndex() != 0) return;
  const int32_t bw = BlockSide(Edit_ProcRevMosBlockW);
  const int32_t bh = BlockSide(Edit_ProcRevMosBlockH);
  if (bw == 0 || bh == 0) return;
  const kavun::TRect rect = selection_.SelectionImageRect();
  if (rect.IsEmpty()) return;
  const kavun::TRect covered = kavun::MosaicCoveredRect(rect, bw, bh);
  const int32_t r = GlobalValue->GetRatio();
  const auto toView = [r](int32_t l, int32_t t, int32_t rr, int32_t b) {
    return QRect(l * r, t * r, (rr - l) * r, (b - t) * r);
  };
  QRegion clear(toView(rect.Left, rect.Top, rect.Right, rect.Bottom));
  if (!covered.IsEmpty()) {
    clear -= QRegion(toView(covered.Left, covered.Top, covered.Right, covered.Bottom));
  }
  if (clear.isEmpty()) return;
  // Diagonal hatching that inverts what lies beneath, visible on any picture like the frame.
  painter.save();
  painter.setClipRegion(clear, Qt::IntersectClip);
  painter.setCompositionMode(QPainter::CompositionMode_Difference);
  painter.fillRect(clear.boundingRect(), QBrush(Qt::white, Qt::BDiagPattern));
  painter.restore();
}

void TMainForm::ScrollIntoView(const QRect& viewRect) {
  const QSize page = ImgBaseScrollBox->viewport()->size();
  const auto axis = [](QScrollBar* bar, int start, int length, int pageLength) {
    const int value = bar->value();
    const int end = start + length;
    if (length <= pageLength) {
      // A margin keeps the frame off the viewport's edge where there is room for it.
      const int margin = std::min(8, (pageLength - length) / 2);
      if (start - margin < value) {
        bar->setValue(start - margin);
      } else if (end + margin > value + pageLength) {
        bar->setValue(end + margin - pageLength);
      }
    } else if (end <= value || start >= value + pageLength) {
      bar->setValue(start);  // nothing of it shown: its start edge
    }
  };
  axis(ImgBaseScrollBox->horizontalScrollBar(), viewRect.x(), viewRect.width(), page.width());
  axis(ImgBaseScrollBox->verticalScrollBar(), viewRect.y(), viewRect.height(), page.height());
}

void TMainForm::RevealSelection() {
  if (!selection_.Visible()) return;
  const kavun::TViewBox box = selection_.ShapeGeometry();
  ScrollIntoView(QRect(box.Left, box.Top, box.Width, box.Height));
  const kavun::TRect rect = selection_.SelectionImageRect();
  StatusPanels[0]->setText(QString::fromStdString(kavun::FormatSelectionStatus(
      rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top)));
}

void TMainForm::ZoomAtPointer(int32_t step, const QPoint& at) {
  const int32_t before = GlobalValue->GetRatio();
  const int32_t after = std::clamp(before + step, kMinRatio, kMaxRatio);
  QScrollBar* h = ImgBaseScrollBox->horizontalScrollBar();
  QScrollBar* v = ImgBaseScrollBox->verticalScrollBar();
  // The image point under the pointer, in image pixels (fractions kept).
  const double x = (h->value() + at.x()) / static_cast<double>(before);
  const double y = (v->value() + at.y()) / static_cast<double>(before);
  RunCommand([this, after] { GlobalValue->SetRatio(after); });
  // The ratio's reaction has shown the top-left corner; the scroll box learns the new size of
  // the view before the point is scrolled back under the pointer.
  QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  h->setValue(static_cast<int>(std::lround(x * after)) - at.x());
  v->setValue(static_cast<int>(std::lround(y * after)) - at.y());
}

bool TMainForm::PanEvent(QObject* watched, QEvent* event) {
  const auto start = [this](const QMouseEvent* mouse) {
    panning_ = true;
    panStart_ = mouse->globalPosition().toPoint();
    panScrollStart_ = QPoint(ImgBaseScrollBox->horizontalScrollBar()->value(),
                             ImgBaseScrollBox->verticalScrollBar()->value());
    ShowPanCursor();
  };
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {  // the second press of a quick double click
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const bool middle = mouse->button() == Qt::MiddleButton;
      const bool spaceLeft = mouse->button() == Qt::LeftButton && spaceHeld_;
      if (!middle && !spaceLeft) return false;
      // A press on the view repaints it, whichever button; the drag takes the press over.
      if (watched == MainPBox) MainPBox->repaint();
      start(mouse);
      return true;
    }
    case QEvent::MouseMove: {
      if (!panning_) return false;
      const QPoint moved = static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - panStart_;
      ImgBaseScrollBox->horizontalScrollBar()->setValue(panScrollStart_.x() - moved.x());
      ImgBaseScrollBox->verticalScrollBar()->setValue(panScrollStart_.y() - moved.y());
      return true;
    }
    case QEvent::MouseButtonRelease: {
      if (!panning_) return false;
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->buttons() & (Qt::MiddleButton | Qt::LeftButton)) return true;
      panning_ = false;
      ShowPanCursor();
      return true;
    }
    default:
      return false;
  }
}

void TMainForm::ShowPanCursor() {
  // A closed hand while the view is dragged, an open one while Space offers to drag it.
  QWidget* viewport = ImgBaseScrollBox->viewport();
  if (panning_) {
    viewport->setCursor(Qt::ClosedHandCursor);
  } else if (spaceHeld_) {
    viewport->setCursor(Qt::OpenHandCursor);
  } else {
    viewport->unsetCursor();
  }
}

void TMainForm::ShowFocusFrame(bool focused) {
  if (focused) {
    QPalette palette = ImgBaseScrollBox->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
    ImgBaseScrollBox->setPalette(palette);
    ImgBaseScrollBox->setFrameStyle(QFrame::Box | QFrame::Plain);
    ImgBaseScrollBox->setLineWidth(designedLineWidth_);  // the viewport keeps its size
  } else {
    ImgBaseScrollBox->setPalette(QPalette());
    ImgBaseScrollBox->setFrameStyle(designedFrameStyle_);
  }
}

bool TMainForm::ViewEventFilter(QObject* watched, QEvent* event) {
  if (ImgBaseScrollBox == nullptr || watched == nullptr) return false;  // still being built
  if (watched == ImgBaseScrollBox) {
    switch (event->type()) {
      case QEvent::FocusIn:
        ShowFocusFrame(true);
        break;
      case QEvent::FocusOut:
        ShowFocusFrame(false);
        if (spaceHeld_) {
          spaceHeld_ = false;
          ShowPanCursor();
        }
        break;
      case QEvent::KeyPress:
      case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Space) return false;
        if (key->isAutoRepeat()) return true;
        spaceHeld_ = event->type() == QEvent::KeyPress;
        ShowPanCursor();
        return true;
      }
      default:
        break;
    }
    return false;
  }
  if (watched == ImgBaseScrollBox->viewport() && event->type() == QEvent::Wheel) {
    auto* wheel = static_cast<QWheelEvent*>(event);
    if (!(wheel->modifiers() & Qt::ControlModifier)) return false;
    if (!MainPBox->isEnabled() || GlobalValue->WorkBitmap.IsEmpty()) return true;
    // One ratio step per notch (120); a touchpad's small steps add up to one.
    wheelRemainder_ += wheel->angleDelta().y();
    const int32_t steps = wheelRemainder_ / 120;
    wheelRemainder_ -= steps * 120;
    if (steps != 0) {
      ZoomAtPointer(steps > 0 ? 1 : -1, wheel->position().toPoint());
    }
    return true;
  }
  if (qobject_cast<TMouseWidget*>(watched) != nullptr) return PanEvent(watched, event);
  return false;
}

void TMainForm::SetZoomEnabled(bool enabled) {
  MainMenu_PR->menuAction()->setEnabled(enabled);
  MainMenu_PR->setEnabled(enabled);
  // Enabled only by the ratio's reaction, which knows which way the ratio can still go.
  if (!enabled) {
    TB_RatioPlus->setEnabled(false);
    TB_RatioMinus->setEnabled(false);
  }
}

void TMainForm::SetViewSize(int width, int height) {
  MainPBox->setGeometry(0, 0, width, height);
  ScrolledArea->setMinimumSize(width, height);
  const QSize viewport = ImgBaseScrollBox->viewport()->size();
  ScrolledArea->resize(std::max(width, viewport.width()), std::max(height, viewport.height()));
}

void TMainForm::WMRatioChanged(int32_t n, int32_t p) {
  const kavun::Bitmap& bitmap = GlobalValue->WorkBitmap;
  const int width = bitmap.Width() * n;
  const int height = bitmap.Height() * n;
  SetViewSize(width, height);
  for (QAction* item : MainMenu_PR_Items) {
    if (item->data().toInt() == n) item->setChecked(true);
  }
  ImgBaseScrollBox->horizontalScrollBar()->setValue(0);
  ImgBaseScrollBox->verticalScrollBar()->setValue(0);
  // Rescales a shown selection (it covers the same image pixels afterwards), then places the
  // handles whether it is shown or not.
  selection_.OnRatioChanged(p, width, height);
  MirrorSelection();
  TB_RatioPlus->setEnabled(GlobalValue->GetRatio() < kMaxRatio);
  TB_RatioMinus->setEnabled(GlobalValue->GetRatio() > kMinRatio);
  MainPBox->update();
}

void TMainForm::MainMenu_PR_100Click() {
  auto* item = qobject_cast<QAction*>(sender());
  if (item == nullptr) return;
  RunCommand([this, item] { GlobalValue->SetRatio(item->data().toInt()); });
}

void TMainForm::TB_RatioPlusClick() {
  RunCommand([this] { GlobalValue->SetRatio(GlobalValue->GetRatio() + 1); });
}

void TMainForm::TB_RatioMinusClick() {
  RunCommand([this] { GlobalValue->SetRatio(GlobalValue->GetRatio() - 1); });
}

void TMainForm::SetScrollTracking(bool on) {
  ImgBaseScrollBox->horizontalScrollBar()->setTracking(on);
  ImgBaseScrollBox->verticalScrollBar()->setTracking(on);
}
