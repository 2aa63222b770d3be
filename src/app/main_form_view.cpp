#include "app/main_form.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

#include <algorithm>

#include "app/image_view.h"
#include "app/main_form_parts.h"

using mainform::AddToolButton;

// ---------------------------------------------------------------------------------------------
// Image view and zoom

void TMainForm::BuildViewMenu() {
  MainMenu_PR = menuBar()->addMenu(QStringLiteral("表示倍率"));
  MainMenu_PR->setObjectName(QStringLiteral("MainMenu_PR"));
  MainMenu_PR->menuAction()->setObjectName(QStringLiteral("MainMenu_PR"));
  ratioGroup_ = new QActionGroup(this);
  ratioGroup_->setExclusive(true);
  for (int i = 0; i < 10; ++i) {
    const int tag = i + 1;
    const QString caption = QString::number(tag * 100) + u'%';
    auto* action = new QAction(caption, this);
    action->setObjectName(QStringLiteral("MainMenu_PR_") + QString::number(tag * 100));
    action->setCheckable(true);
    action->setChecked(tag == 1);
    action->setData(tag);  // the item's Tag: its ratio
    ratioGroup_->addAction(action);
    MainMenu_PR->addAction(action);
    connect(action, &QAction::triggered, this, &TMainForm::MainMenu_PR_100Click);
    MainMenu_PR_Items[static_cast<std::size_t>(i)] = action;
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
  connect(MainPBox, &TImageView::Paint, this, &TMainForm::MainPBoxPaint, Qt::DirectConnection);
  connect(MainPBox, &TImageView::MouseDown, this, &TMainForm::MainPBoxMouseDown);
  connect(MainPBox, &TImageView::MouseMove, this, &TMainForm::MainPBoxMouseMove);
  connect(MainPBox, &TImageView::MouseUp, this, &TMainForm::MainPBoxMouseUp);
}

void TMainForm::MainPBoxPaint(QPainter& painter, const QRect& exposed) {
  // Drawn anew on every paint from the working bitmap; nothing scaled is kept.
  MainPBox->PaintArea(painter, exposed);
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
  TB_RatioPlus->setEnabled(GlobalValue->GetRatio() < 10);
  TB_RatioMinus->setEnabled(GlobalValue->GetRatio() > 1);
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
