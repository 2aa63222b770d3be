// The processing panel: its pages, its number fields and their key filter, the reversibility
// check and Execute on the selection.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "app/image_view.h"
#include "app/selection_widgets.h"
#include "app_test_support.h"
#include "engine/beep.h"
#include "engine/bitshift.h"
#include "engine/mosaic.h"
#include "engine/xor.h"
#include "imagefile/imagefile.h"

namespace {

TEST_F(SelectionPanelTest, PageFollowsTheClickedMethod) {
  QTest::mouseClick(form_->RadioButton_ProcSelBS, Qt::LeftButton);
  EXPECT_EQ(form_->ProcValPageControl->currentIndex(), 1);
  QTest::mouseClick(form_->RadioButton_ProcSelXOR, Qt::LeftButton);
  EXPECT_EQ(form_->ProcValPageControl->currentIndex(), 2);
  QTest::mouseClick(form_->RadioButton_ProcSelRM, Qt::LeftButton);
  EXPECT_EQ(form_->ProcValPageControl->currentIndex(), 0);
}

TEST_F(SelectionPanelTest, TheKeyFilterBeepsAndRemovesTheSelection) {
  QLineEdit* w = form_->Edit_ProcRevMosBlockW;
  w->setFocus();
  w->setText(QStringLiteral("16"));
  w->end(false);
  QTest::keyClick(w, Qt::Key_5);
  EXPECT_EQ(w->text(), QStringLiteral("16"));
  EXPECT_EQ(beeps_, 1);
  w->selectAll();
  QTest::keyClick(w, Qt::Key_5);
  EXPECT_EQ(w->text(), QStringLiteral("5"));
  EXPECT_EQ(beeps_, 1);
  // A letter beeps; the selected part is removed all the same.
  w->setText(QStringLiteral("16"));
  w->setSelection(0, 1);
  QTest::keyClick(w, Qt::Key_A);
  EXPECT_EQ(w->text(), QStringLiteral("6"));
  EXPECT_EQ(beeps_, 2);
  // Backspace always passes, also at the limit.
  w->setText(QStringLiteral("16"));
  w->end(false);
  QTest::keyClick(w, Qt::Key_Backspace);
  EXPECT_EQ(w->text(), QStringLiteral("1"));
  // Backspace over a selection removes the selection only.
  QLineEdit* key2 = form_->Edit_ProcRevMosKey2;
  key2->setFocus();
  key2->setText(QStringLiteral("123"));
  key2->setSelection(1, 2);
  QTest::keyClick(key2, Qt::Key_Backspace);
  EXPECT_EQ(key2->text(), QStringLiteral("1"));
  EXPECT_EQ(beeps_, 2);
  // A digit typed over a selection takes its place.
  key2->setText(QStringLiteral("123"));
  key2->setSelection(1, 1);
  QTest::keyClick(key2, Qt::Key_9);
  EXPECT_EQ(key2->text(), QStringLiteral("193"));
  EXPECT_EQ(beeps_, 2);
  w->setFocus();
  // Three characters for a coefficient.
  QLineEdit* k = form_->Edit_ProcRevMosKey1;
  k->setFocus();
  k->setText(QString());
  QTest::keyClicks(k, QStringLiteral("2555"));
  EXPECT_EQ(k->text(), QStringLiteral("255"));
  EXPECT_EQ(beeps_, 3);
}

// Delete and the cursor keys type no character: they edit the field as usual, without a beep,
// even though the X11 key event of Delete carries the DEL character as its text.
TEST_F(SelectionPanelTest, DeleteAndCursorKeysBypassTheKeyFilter) {
  QLineEdit* w = form_->Edit_ProcRevMosBlockW;
  w->setFocus();
  w->setText(QStringLiteral("16"));
  w->home(false);
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7f)));
  QApplication::sendEvent(w, &del);
  EXPECT_EQ(w->text(), QStringLiteral("6"));
  QTest::keyClick(w, Qt::Key_Right);
  QTest::keyClick(w, Qt::Key_Left);
  EXPECT_EQ(w->text(), QStringLiteral("6"));
  EXPECT_EQ(beeps_, 0);
}

// Copy and select all change nothing, cut removes the selection as Delete would, and a paste
// from the keys, the context menu or the middle button inserts digits up to the field's limit
// only; anything else beeps and leaves the text as it was.
TEST_F(SelectionPanelTest, NumericFieldsCopyCutAndPasteOnlyDigits) {
  QLineEdit* w = form_->Edit_ProcRevMosKey1;
  w->setFocus();
  w->setText(QStringLiteral("123"));
  w->selectAll();
  QTest::keyClick(w, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("123"));
  QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(w->text(), QStringLiteral("123"));
  EXPECT_EQ(w->selectedText(), QStringLiteral("123"));
  w->setSelection(1, 1);
  QTest::keyClick(w, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(w->text(), QStringLiteral("13"));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("2"));
  EXPECT_EQ(beeps_, 0);
  struct Case {
    const char* clipboard;
    const char* before;  // the text, all of it selected when `selectAll`
    bool selectAll;
    const char* after;
    int beeps;
  };
  const Case cases[] = {
      {"42", "7", true, "42", 0},    // replaces the selection
      {"5", "12", false, "125", 0},  // inserted at the end, within three characters
      {"55", "12", false, "12", 1},  // four characters: refused
      {"4a", "7", true, "7", 1},     // a letter: refused
      {"-3", "7", true, "7", 1},     // a sign is no digit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clipboard);
    beeps_ = 0;
    QGuiApplication::clipboard()->setText(QString::fromUtf8(c.clipboard));
    w->setText(QString::fromUtf8(c.before));
    if (c.selectAll) {
      w->selectAll();
    } else {
      w->end(false);
    }
    QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(w->text(), QString::fromUtf8(c.after));
    EXPECT_EQ(beeps_, c.beeps);
  }
  // The context menu's paste goes the same way.
  QGuiApplication::clipboard()->setText(QStringLiteral("x"));
  w->setText(QStringLiteral("7"));
  w->selectAll();
  w->paste();
  EXPECT_EQ(w->text(), QStringLiteral("7"));
}

TEST_F(SelectionPanelTest, ThePasswordHasNoLengthLimit) {
  const QString longPassword(40000, u'p');
  form_->Edit_ProcXorKey->setText(longPassword);
  EXPECT_EQ(form_->Edit_ProcXorKey->text(), longPassword);
}

TEST_F(SelectionPanelTest, LeavingAFieldCorrectsItsText) {
  struct Row {
    QLineEdit* edit;
    const char* typed;
    const char* after;
  };
  const Row rows[] = {
      {form_->Edit_ProcRevMosBlockW, "1", "2"},  {form_->Edit_ProcRevMosBlockW, "", "2"},
      {form_->Edit_ProcRevMosBlockH, "07", "7"}, {form_->Edit_ProcRevMosKey1, "999", "255"},
      {form_->Edit_ProcRevMosKey2, "", "0"},     {form_->Edit_ProcBitShiftLen, "0", "1"},
      {form_->Edit_ProcBitShiftLen, "30", "23"}};
  for (const Row& row : rows) {
    row.edit->setText(QString::fromLatin1(row.typed));
    Leave(row.edit);
    EXPECT_EQ(row.edit->text(), QString::fromLatin1(row.after))
        << row.edit->objectName().toStdString() << " " << row.typed;
  }
  EXPECT_EQ(beeps_, 0);
}

TEST_F(SelectionPanelTest, SwitchingWindowsOrOpeningAPopupDoesNotLeaveTheField) {
  QLineEdit* w = form_->Edit_ProcRevMosBlockW;
  w->setText(QStringLiteral("1"));  // on its way to "15"
  for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
    QFocusEvent out(QEvent::FocusOut, reason);
    QApplication::sendEvent(w, &out);
    EXPECT_EQ(w->text(), QStringLiteral("1")) << reason;
  }
  Leave(w);
  EXPECT_EQ(w->text(), QStringLiteral("2"));
}

TEST_F(SelectionPanelTest, TheReversibilityCheckTellsBothOutcomes) {
  QTest::mouseClick(form_->ChkBijButton, Qt::LeftButton);
  form_->Edit_ProcRevMosKey1->setText(QStringLiteral("2"));
  QTest::mouseClick(form_->ChkBijButton, Qt::LeftButton);
  ASSERT_EQ(dialogs_.notices.size(), 2u);
  EXPECT_EQ(dialogs_.notices[0].text, QStringLiteral("可逆です。"));
  EXPECT_EQ(dialogs_.notices[0].caption, QStringLiteral("可逆チェック"));
  EXPECT_EQ(dialogs_.notices[1].text,
            QStringLiteral("非可逆です。\r\nモザイクを掛けた画像を戻すことは出来ません。"));
  EXPECT_TRUE(form_->isEnabled());
  EXPECT_TRUE(form_->ChkBijButton->isEnabled());
}

// Runs Execute on the rectangle and compares with the engine run directly on a copy.
TEST_F(SelectionPanelTest, ExecuteRunsTheCheckedTransformOnTheSelection) {
  Open(48, 40, 2);
  Drag(QPoint(4, 6), QPoint(70, 64));
  const kavun::TRect rect = ImageRect();
  ASSERT_EQ(rect, (kavun::TRect{2, 3, 35, 32}));

  struct Step {
    std::function<void()> choose;
    std::function<void(kavun::Bitmap*)> expected;
  };
  const std::vector<Step> steps = {
      {[] {}, [&](kavun::Bitmap* b) { kavun::ReversibleMosaic(b, rect, false, 16, 16, 3, 7); }},
      {[this] {
         QTest::mouseClick(form_->RadioButton_ProcSelBS, Qt::LeftButton);
         form_->Edit_ProcBitShiftLen->setText(QStringLiteral("5"));
         form_->RadioButton_ProcBitShiftL->setChecked(true);
       },
       [&](kavun::Bitmap* b) { kavun::BitShiftRotate(b, rect, -5); }},
      {[this] {
         QTest::mouseClick(form_->RadioButton_ProcSelXOR, Qt::LeftButton);
         form_->RadioButton_ProcXorFuncMD5OFB->setChecked(true);  // neither MD5 nor MTwister
         form_->Edit_ProcXorKey->setText(QStringLiteral("パスワード"));
       },
       [&](kavun::Bitmap* b) {
         kavun::XorKeystream(b, rect, kavun::XorKeyMode::MD5OFB,
                             "\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68");
       }},
  };
  for (const Step& step : steps) {
    step.choose();
    kavun::Bitmap expected = form_->Global().WorkBitmap;
    step.expected(&expected);
    QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
    EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, expected));
    EXPECT_TRUE(form_->isEnabled());
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^処理時間: \\d+ ミリ秒$")).match(Status(1)).hasMatch())
        << Status(1).toStdString();
  }
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(SelectionPanelTest, ExecuteOnAPointSelectionChangesNothing) {
  Open(30, 20, 3);
  Press(QPoint(31, 29));
  Release(QPoint(31, 29));
  ASSERT_TRUE(form_->ExecuteButton->isEnabled());
  EXPECT_EQ(ImageRect(), (kavun::TRect{10, 10, 10, 10}));
  const kavun::Bitmap before = form_->Global().WorkBitmap;
  for (QRadioButton* method : {form_->RadioButton_ProcSelRM, form_->RadioButton_ProcSelBS,
                               form_->RadioButton_ProcSelXOR}) {
    QTest::mouseClick(method, Qt::LeftButton);
    QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
    EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, before)) << method->text().toStdString();
    EXPECT_TRUE(form_->isEnabled());
    EXPECT_FALSE(Status(1).isEmpty());
  }
  EXPECT_TRUE(dialogs_.errors.empty());
  // The mosaic says that it changed nothing; the others change nothing silently, as designed.
  ASSERT_EQ(dialogs_.notices.size(), 1u);
  EXPECT_TRUE(dialogs_.notices[0].text.startsWith(QStringLiteral("選択範囲 (0 × 0 ピクセル)")));
}

// A mosaic whose selection holds no whole block changes nothing and says so; one that holds
// blocks says nothing. Coefficients the inverse cannot use keep their beep instead.
TEST_F(SelectionPanelTest, AMosaicWithoutAWholeBlockSaysSoInsteadOfPassingAsDone) {
  Open(30, 20, 1);
  form_->TB_SelMax->click();
  const struct {
    const char* blockW;
    const char* blockH;
    bool decode;
    const char* key1;
    int notices;
    int beeps;
  } cases[] = {
      {"16", "16", false, "3", 0, 0},  // one block, strips beside and below
      {"32", "16", false, "3", 1, 0},  // wider than the picture
      {"16", "21", true, "5", 1, 0},   // higher, inverse
      {"16", "21", true, "2", 0, 1},   // inverse coefficients that cannot be undone: the beep
      {"30", "20", false, "3", 0, 0},  // exactly one block
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.blockW) + "x" + c.blockH + (c.decode ? " inverse" : ""));
    dialogs_.notices.clear();
    form_->Edit_ProcRevMosBlockW->setText(QString::fromLatin1(c.blockW));
    form_->Edit_ProcRevMosBlockH->setText(QString::fromLatin1(c.blockH));
    form_->Edit_ProcRevMosKey1->setText(QString::fromLatin1(c.key1));
    (c.decode ? form_->RadioButton_ProcRevMosDecode : form_->RadioButton_ProcRevMosEncode)
        ->setChecked(true);
    kavun::Bitmap expected = form_->Global().WorkBitmap;
    kavun::ReversibleMosaic(&expected, {0, 0, 30, 20}, c.decode, QString(c.blockW).toInt(),
                            QString(c.blockH).toInt(), QString(c.key1).toInt(), 7);
    beeps_ = 0;
    QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
    EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, expected));
    EXPECT_EQ(beeps_, c.beeps);
    ASSERT_EQ(static_cast<int>(dialogs_.notices.size()), c.notices);
    if (c.notices == 1) {
      EXPECT_EQ(dialogs_.notices[0].text,
                QStringLiteral("選択範囲 (30 × 20 ピクセル) にはブロック (%1 × %2) が一つも収まら"
                               "ないため、\r\n画像は変更されていません。\r\n選択範囲を広げるか、"
                               "ブロックサイズを小さくしてください。")
                    .arg(QString::fromLatin1(c.blockW), QString::fromLatin1(c.blockH)));
      EXPECT_EQ(dialogs_.notices[0].caption, QStringLiteral("可逆モザイク"));
    }
    EXPECT_TRUE(form_->isEnabled());
  }
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(SelectionPanelTest, AFailingExecuteLeavesTheWindowEnabledAndThePicture) {
  Open(20, 20, 1);
  form_->TB_SelMax->click();
  QTest::mouseClick(form_->RadioButton_ProcSelXOR, Qt::LeftButton);
  form_->Edit_ProcXorKey->setText(QString::fromUtf8("\xF0\x9F\x98\x80"));  // not in CP932
  const kavun::Bitmap before = form_->Global().WorkBitmap;
  QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
  ASSERT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_FALSE(dialogs_.errors[0].text.isEmpty());
  EXPECT_TRUE(form_->isEnabled());
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, before));
}

// Scramble with each transform at ratio 3, save as PNG, open it again and run the inverse:
// every pixel comes back.
TEST_F(SelectionPanelTest, ScrambledPictureSavedAsPngIsRestored) {
  Open(64, 48, 3);
  const kavun::Bitmap original = form_->Global().WorkBitmap;
  struct Method {
    QRadioButton* method;
    std::function<void(bool inverse)> setDirection;
  };
  const std::vector<Method> methods = {
      {form_->RadioButton_ProcSelRM,
       [this](bool inverse) {
         (inverse ? form_->RadioButton_ProcRevMosDecode : form_->RadioButton_ProcRevMosEncode)
             ->setChecked(true);
         form_->Edit_ProcRevMosBlockW->setText(QStringLiteral("5"));
         form_->Edit_ProcRevMosBlockH->setText(QStringLiteral("4"));
       }},
      {form_->RadioButton_ProcSelBS,
       [this](bool inverse) {
         (inverse ? form_->RadioButton_ProcBitShiftL : form_->RadioButton_ProcBitShiftR)
             ->setChecked(true);
       }},
      {form_->RadioButton_ProcSelXOR,
       [this](bool) { form_->Edit_ProcXorKey->setText(QStringLiteral("secret")); }},
  };
  int round = 0;
  for (const Method& m : methods) {
    form_->LoadPicture(path_);
    form_->Global().SetRatio(3);
    Drag(QPoint(10, 7), QPoint(150, 130));
    const kavun::TRect rect = ImageRect();
    ASSERT_FALSE(rect.IsEmpty());
    QTest::mouseClick(m.method, Qt::LeftButton);
    m.setDirection(false);
    QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
    ASSERT_FALSE(SamePixels(form_->Global().WorkBitmap, original)) << round;

    const QString saved = TempPath(QStringLiteral("scrambled%1.png").arg(round++));
    dialogs_.saveName = saved;
    dialogs_.saveFilterIndex = 1;
    form_->MainMenu_F_SaveAs->trigger();
    ASSERT_EQ(form_->Global().FileName, saved);
    dialogs_.openName = saved;
    form_->MainMenu_F_Open->trigger();
    form_->MainMenu_PR_Items[2]->trigger();
    Drag(QPoint(10, 7), QPoint(150, 130));
    ASSERT_EQ(ImageRect(), rect);
    m.setDirection(true);
    QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
    EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, original)) << round;
  }
  EXPECT_TRUE(dialogs_.errors.empty());
}

}  // namespace
