#include "app/main_form.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>

#include <new>

#include "app/image_view.h"
#include "app/main_form_parts.h"
#include "engine/transform_params.h"

using mainform::AddMenuAction;

// ---------------------------------------------------------------------------------------------
// Undo and redo of Execute

namespace {

// What the status bar calls an Execute: the transform, its direction and the rectangle.
QString StepLabel(const kavun::TRect& rect, const kavun::TransformRequest& request) {
  QString what;
  switch (request.Kind) {
    case kavun::TransformKind::ReversibleMosaic:
      what = QStringLiteral("可逆モザイク (%1)")
                 .arg(request.Decode ? QStringLiteral("逆変換") : QStringLiteral("変換"));
      break;
    case kavun::TransformKind::BitShift:
      what = QStringLiteral("ビットシフト (%1 %2)")
                 .arg(request.Shift >= 0 ? QStringLiteral("右巡回シフト")
                                         : QStringLiteral("左巡回シフト"))
                 .arg(request.Shift >= 0 ? request.Shift : -static_cast<int64_t>(request.Shift));
      break;
    case kavun::TransformKind::Xor:
      what = QStringLiteral("XOR (%1)")
                 .arg(request.Mode == kavun::XorKeyMode::MTwister ? "MTwister"
                      : request.Mode == kavun::XorKeyMode::MD5    ? "MD5"
                                                                  : "MD5(OFB)");
      break;
  }
  return what + QStringLiteral(" ( %1 , %2 ) W:%3 H:%4")
                    .arg(rect.Left)
                    .arg(rect.Top)
                    .arg(rect.Right - rect.Left)
                    .arg(rect.Bottom - rect.Top);
}

}  // namespace

void TMainForm::BuildEditMenu() {
  // After the designed menus, so that none of them moves.
  MainMenu_E = menuBar()->addMenu(QStringLiteral("編集"));
  MainMenu_E->setObjectName(QStringLiteral("MainMenu_E"));
  MainMenu_E_Undo = AddMenuAction(this, MainMenu_E, "MainMenu_E_Undo", QStringLiteral("元に戻す"));
  MainMenu_E_Redo = AddMenuAction(this, MainMenu_E, "MainMenu_E_Redo", QStringLiteral("やり直し"));
  mainform::SetShortcuts(MainMenu_E_Undo, {QKeySequence(Qt::CTRL | Qt::Key_Z)});
  mainform::SetShortcuts(MainMenu_E_Redo, {QKeySequence(Qt::CTRL | Qt::Key_Y),
                                           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  connect(MainMenu_E_Undo, &QAction::triggered, this, &TMainForm::MainMenu_E_UndoClick);
  connect(MainMenu_E_Redo, &QAction::triggered, this, &TMainForm::MainMenu_E_RedoClick);
  UpdateUndoActions();
}

void TMainForm::UpdateUndoActions() {
  if (MainMenu_E_Undo == nullptr) return;
  MainMenu_E_Undo->setEnabled(undo_.CanUndo());
  MainMenu_E_Redo->setEnabled(undo_.CanRedo());
}

void TMainForm::PrepareUndo(const kavun::TRect& rect, const kavun::TransformRequest& request) {
  try {
    undo_.Prepare(GlobalValue->WorkBitmap, rect, StepLabel(rect, request).toStdString());
  } catch (const std::bad_alloc&) {
    // No memory for the old pixels: Execute runs all the same and cannot be undone, nor can
    // the steps before it.
    undo_.Clear();
  }
}

void TMainForm::ExecuteDone() {
  undo_.Commit();
  UpdateUndoActions();
  const QString clear = MosaicClearText();
  if (!clear.isEmpty() && RadioButton_ProcSelRM->isChecked()) StatusPanels[0]->setText(clear);
}

void TMainForm::ForgetUndo() {
  undo_.Clear();
  UpdateUndoActions();
}

void TMainForm::MainMenu_E_UndoClick() {
  StepUndo(false);
}

void TMainForm::MainMenu_E_RedoClick() {
  StepUndo(true);
}

void TMainForm::StepUndo(bool redo) {
  RunCommand([this, redo] {
    const std::optional<std::string> label =
        redo ? undo_.Redo(GlobalValue->WorkBitmap) : undo_.Undo(GlobalValue->WorkBitmap);
    UpdateUndoActions();
    if (!label) return;
    MainPBox->BitmapChanged();
    StatusPanels[1]->setText(
        (redo ? QStringLiteral("やり直しました: ") : QStringLiteral("元に戻しました: ")) +
        QString::fromStdString(*label));
  });
}
