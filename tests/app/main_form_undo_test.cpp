// Undo and redo of Execute.
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "app/error_box.h"
#include "app/image_view.h"
#include "app/sel_num_form.h"
#include "app/selection_widgets.h"
#include "app_test_support.h"

namespace {

TEST_F(ViewNavigationTest, UndoAndRedoOfExecuteRestoreThePixelsBitForBit) {
  Open(120, 90, 2);
  const kavun::Bitmap original = form_->Global().WorkBitmap;
  EXPECT_FALSE(form_->MainMenu_E_Undo->isEnabled());
  form_->SelectImageRect(kavun::TRect{3, 4, 90, 70});
  form_->RadioButton_ProcSelXOR->click();
  form_->ExecuteButtonClick();
  const kavun::Bitmap afterXor = form_->Global().WorkBitmap;
  form_->SelectImageRect(kavun::TRect{40, 20, 120, 90});
  form_->RadioButton_ProcSelRM->click();
  form_->ExecuteButtonClick();
  const kavun::Bitmap afterMosaic = form_->Global().WorkBitmap;
  ASSERT_FALSE(SamePixels(afterXor, original));
  ASSERT_FALSE(SamePixels(afterMosaic, afterXor));

  struct Key {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    const kavun::Bitmap* expected;
    const char* status;
  };
  const Key keys[] = {
      {Qt::Key_Z, Qt::ControlModifier, &afterXor, "元に戻しました: 可逆モザイク (変換)"},
      {Qt::Key_Z, Qt::ControlModifier, &original, "元に戻しました: XOR (MTwister)"},
      {Qt::Key_Z, Qt::ControlModifier, &original, "元に戻しました: XOR (MTwister)"},  // none left
      {Qt::Key_Y, Qt::ControlModifier, &afterXor, "やり直しました: XOR (MTwister)"},
      {Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, &afterMosaic,
       "やり直しました: 可逆モザイク (変換)"},
  };
  for (const Key& k : keys) {
    QTest::keyClick(form_.get(), k.key, k.mods);
    EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, *k.expected)) << k.status;
    EXPECT_TRUE(Status(1).startsWith(QString::fromUtf8(k.status))) << Status(1).toStdString();
  }
  EXPECT_FALSE(form_->MainMenu_E_Redo->isEnabled());
  EXPECT_TRUE(form_->MainMenu_E_Undo->isEnabled());
  // Read again from the file: nothing left to undo.
  form_->MainMenu_F_ReOpen->trigger();
  EXPECT_FALSE(form_->UndoStack().CanUndo());
  EXPECT_FALSE(form_->MainMenu_E_Undo->isEnabled());
}

}  // namespace
