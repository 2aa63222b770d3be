// The selection rectangle and the processing panel, driven by mouse and key events on the real
// widgets of a shown window.
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

class SelectionPanelTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    previousBeep_ = kavun::SetBeepHandler([this] { ++beeps_; });
    form_->show();
    QApplication::setActiveWindow(form_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  void TearDown() override {
    kavun::SetBeepHandler(previousBeep_);
    MainFormTest::TearDown();
  }

  // Opens a pattern picture and zooms it.
  void Open(int width, int height, int ratio) {
    path_ = WritePicture(QStringLiteral("sel.png"), width, height);
    form_->LoadPicture(path_);
    form_->Global().SetRatio(ratio);
    QApplication::processEvents();
  }

  // Mouse events through the window, so that Qt routes them to the widget under the pointer and
  // keeps the pressing widget as the receiver of moves and the release.
  QPoint InWindow(QWidget* w, QPoint p) const { return w->mapTo(form_.get(), p); }
  void Press(QPoint viewPoint, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(form_->windowHandle(), button, {}, InWindow(form_->MainPBox, viewPoint));
  }
  void MoveTo(QPoint viewPoint) {
    QTest::mouseMove(form_->windowHandle(), InWindow(form_->MainPBox, viewPoint));
  }
  void Release(QPoint viewPoint, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseRelease(form_->windowHandle(), button, {}, InWindow(form_->MainPBox, viewPoint));
  }
  void Drag(QPoint from, QPoint to) {
    Press(from);
    MoveTo((from + to) / 2);
    MoveTo(to);
    Release(to);
  }

  QRect ShapeGeometry() const { return form_->ImgSelShape->geometry(); }
  kavun::TRect ImageRect() { return form_->Selection().SelectionImageRect(); }
  QString Status(int panel) const {
    return form_->StatusPanels[static_cast<std::size_t>(panel)]->text();
  }

  void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    QTest::keyClicks(edit, text);
  }
  // Leaves the field by moving the focus elsewhere.
  void Leave(QLineEdit* edit) {
    edit->setFocus();
    QApplication::processEvents();
    form_->Edit_ProcXorKey->setFocus();
    QApplication::processEvents();
  }

  QString path_;
  int beeps_ = 0;
  kavun::BeepHandler previousBeep_;
};

TEST_F(SelectionPanelTest, PressesSnapToWholeImagePixelsAtRatioTwo) {
  Open(40, 30, 2);
  Press(QPoint(1, 1));
  EXPECT_EQ(form_->Selection().Left(), 0);
  Release(QPoint(1, 1));
  EXPECT_TRUE(form_->ExecuteButton->isEnabled());
  // A press beside the selection removes it; the next one starts a new rectangle.
  Press(QPoint(50, 50));
  Release(QPoint(50, 50));
  EXPECT_FALSE(form_->Selection().Visible());
  EXPECT_FALSE(form_->ExecuteButton->isEnabled());
  Press(QPoint(3, 7));
  EXPECT_EQ(form_->Selection().Left(), 4);
  EXPECT_EQ(form_->Selection().Top(), 8);
  Release(QPoint(3, 7));
  // A plain click gives an empty rectangle with the handles around its point.
  EXPECT_EQ(ImageRect(), (kavun::TRect{2, 4, 2, 4}));
  // Each handle sits in the quadrant opposite to its name.
  EXPECT_EQ(form_->CornerShapes[0]->pos(), QPoint(4, 8));
  EXPECT_EQ(form_->CornerShapes[2]->pos(), QPoint(-6, -2));
  EXPECT_TRUE(form_->CornerShapes[2]->isVisible());
}

TEST_F(SelectionPanelTest, RubberBandReadsOutPositionAndSize) {
  Open(200, 150, 1);
  Drag(QPoint(10, 20), QPoint(110, 70));
  EXPECT_EQ(Status(0), QStringLiteral("( 110 ,  70 ) W: 100 H:  50"));
  EXPECT_EQ(ShapeGeometry(), QRect(10, 20, 100, 50));
  EXPECT_TRUE(form_->ImgSelShape->isVisible());
  EXPECT_EQ(ImageRect(), (kavun::TRect{10, 20, 110, 70}));
  for (int k = 0; k < 4; ++k) {
    EXPECT_TRUE(form_->CornerShapes[static_cast<std::size_t>(k)]->isVisible());
  }
  EXPECT_EQ(form_->CornerShapes[0]->pos(), QPoint(10, 20));
  EXPECT_EQ(form_->CornerShapes[2]->pos(), QPoint(100, 60));
}

TEST_F(SelectionPanelTest, RubberBandBeyondTheBorderStopsThere) {
  Open(50, 40, 2);
  Press(QPoint(60, 60));
  MoveTo(QPoint(300, 300));
  EXPECT_EQ(Status(0), QStringLiteral("(  50 ,  40 ) W:  20 H:  10"));
  Release(QPoint(300, 300));
  EXPECT_EQ(ImageRect(), (kavun::TRect{30, 30, 50, 40}));
  // Up and to the left, past the border: negative size, read-out without sign.
  Press(QPoint(2, 2));  // hides
  Release(QPoint(2, 2));
  Press(QPoint(40, 30));
  MoveTo(QPoint(10, 6));
  EXPECT_EQ(Status(0), QStringLiteral("(   5 ,   3 ) W:  15 H:  12"));
  Release(QPoint(10, 6));
  EXPECT_LT(form_->Selection().Width(), 0);
  EXPECT_EQ(ImageRect(), (kavun::TRect{5, 3, 20, 15}));
  EXPECT_EQ(ShapeGeometry(), QRect(10, 6, 30, 24));
}

TEST_F(SelectionPanelTest, MovingAndRemovingTheRectangle) {
  Open(60, 40, 1);
  // The handles cover the corners; (25, 20) is inside the rectangle but on no handle.
  Drag(QPoint(10, 10), QPoint(40, 30));
  Press(QPoint(25, 20));
  MoveTo(QPoint(40, 20));
  MoveTo(QPoint(70, 20));
  Release(QPoint(70, 20));
  // Sticking out of the image: trimmed on release.
  EXPECT_EQ(ImageRect(), (kavun::TRect{55, 10, 60, 30}));
  // A left press beside it removes it.
  Press(QPoint(5, 35));
  Release(QPoint(5, 35));
  EXPECT_FALSE(form_->Selection().Visible());

  // A right press on the rectangle removes it.
  Drag(QPoint(10, 10), QPoint(40, 30));
  Press(QPoint(25, 20), Qt::RightButton);
  Release(QPoint(25, 20), Qt::RightButton);
  EXPECT_FALSE(form_->Selection().Visible());
  EXPECT_FALSE(form_->ImgSelShape->isVisible());
  EXPECT_FALSE(form_->ExecuteButton->isEnabled());

  // Moved wholly off the image: removed on release.
  Drag(QPoint(10, 10), QPoint(40, 30));
  Press(QPoint(25, 20));
  MoveTo(QPoint(85, 20));
  Release(QPoint(85, 20));
  EXPECT_FALSE(form_->Selection().Visible());
  EXPECT_FALSE(form_->CornerShapes[0]->isVisible());
}

// Beside a small picture the frame and its handles are drawn and take the mouse where they
// reach past the picture's edge.
TEST_F(SelectionPanelTest, AFrameDraggedPastASmallPicturesEdgeIsDrawnAndGrabbable) {
  Open(60, 40, 1);
  Drag(QPoint(10, 10), QPoint(40, 30));
  Press(QPoint(25, 20));
  MoveTo(QPoint(40, 20));
  MoveTo(QPoint(70, 20));
  const QRect frame = ShapeGeometry();
  ASSERT_EQ(frame, QRect(55, 10, 30, 20));
  EXPECT_TRUE(form_->ScrolledArea->rect().contains(frame));
  for (TInvertingShape* handle : form_->CornerShapes) {
    EXPECT_TRUE(form_->ScrolledArea->rect().contains(handle->geometry()));
  }
  EXPECT_EQ(form_->ScrolledArea->childAt(QPoint(72, 20)), form_->ImgSelShape);
  Release(QPoint(70, 20));
  EXPECT_EQ(ImageRect(), (kavun::TRect{55, 10, 60, 30}));
  // The picture's size still bounds the view and what scrolls.
  EXPECT_EQ(form_->MainPBox->geometry(), QRect(0, 0, 60, 40));
  EXPECT_EQ(form_->ImgBaseScrollBox->horizontalScrollBar()->maximum(), 0);
}

TEST_F(SelectionPanelTest, AnInsideOutRectangleMovesAndRightPressesElsewhereKeepIt) {
  Open(60, 40, 1);
  Drag(QPoint(40, 30), QPoint(10, 10));  // up and to the left: negative width and height
  EXPECT_EQ(form_->Selection().Width(), -30);
  EXPECT_EQ(form_->Selection().Height(), -20);
  EXPECT_EQ(ShapeGeometry(), QRect(10, 10, 30, 20));
  // A press inside goes to the rectangle and moves it.
  Press(QPoint(25, 20));
  MoveTo(QPoint(28, 22));
  MoveTo(QPoint(30, 25));
  Release(QPoint(30, 25));
  EXPECT_EQ(ImageRect(), (kavun::TRect{15, 15, 45, 35}));
  // A right press beside it only repaints the view; one on a handle does nothing.
  Press(QPoint(5, 5), Qt::RightButton);
  Release(QPoint(5, 5), Qt::RightButton);
  const QPoint onHandle = InWindow(form_->CornerShapes[0], QPoint(2, 2));
  QTest::mousePress(form_->windowHandle(), Qt::RightButton, {}, onHandle);
  QTest::mouseRelease(form_->windowHandle(), Qt::RightButton, {}, onHandle);
  EXPECT_TRUE(form_->Selection().Visible());
  EXPECT_EQ(ImageRect(), (kavun::TRect{15, 15, 45, 35}));
}

TEST_F(SelectionPanelTest, DraggingHandleThreeOfAPointSpansTheRectangle) {
  Open(60, 40, 1);
  Press(QPoint(20, 20));
  Release(QPoint(20, 20));
  // Handle 3 of a 0 x 0 selection sits above and left of the point.
  QWidget* handle = form_->CornerShapes[2];
  ASSERT_EQ(handle->pos(), QPoint(10, 10));
  const QPoint grab = InWindow(handle, QPoint(2, 2));
  QTest::mousePress(form_->windowHandle(), Qt::LeftButton, {}, grab);
  QTest::mouseMove(form_->windowHandle(), grab + QPoint(5, 3));
  QTest::mouseMove(form_->windowHandle(), grab + QPoint(15, 9));
  QTest::mouseRelease(form_->windowHandle(), Qt::LeftButton, {}, grab + QPoint(15, 9));
  EXPECT_EQ(ImageRect(), (kavun::TRect{20, 20, 35, 29}));
}

TEST_F(SelectionPanelTest, SelectAllAtRatioSevenCoversTheImage) {
  Open(13, 9, 7);
  form_->TB_SelMax->click();
  EXPECT_EQ(ImageRect(), (kavun::TRect{0, 0, 13, 9}));
  EXPECT_EQ(ShapeGeometry(), QRect(0, 0, 91, 63));
  EXPECT_EQ(form_->CornerShapes[2]->pos(), QPoint(81, 53));
  EXPECT_TRUE(form_->ExecuteButton->isEnabled());
}

TEST_F(SelectionPanelTest, ARatioChangeKeepsTheSelectionOnTheSameImagePixels) {
  Open(40, 30, 2);
  Drag(QPoint(6, 4), QPoint(16, 12));
  EXPECT_EQ(ShapeGeometry(), QRect(6, 4, 10, 8));
  form_->MainMenu_PR_Items[4]->trigger();
  EXPECT_EQ(ShapeGeometry(), QRect(15, 10, 25, 20));
  EXPECT_EQ(form_->CornerShapes[2]->pos(), QPoint(30, 20));
  EXPECT_EQ(ImageRect(), (kavun::TRect{3, 2, 8, 6}));
}

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

// 選択範囲を数値で指定: filled with the shown selection (or the whole picture); OK selects the
// typed rectangle brought into the picture (a beep when it had to be), Cancel changes nothing.
TEST_F(SelectionPanelTest, SelectionByNumberSelectsTheTypedRectangleInsideThePicture) {
  Open(64, 48, 2);
  struct Row {
    const char* name;
    std::optional<kavun::TRect> answer;
    kavun::TRect asked;     // what the dialog was filled with
    kavun::TRect selected;  // the selection afterwards
    int beeps;
  };
  const kavun::TRect dragged{5, 4, 20, 16};
  const Row rows[] = {
      {"cancel keeps the selection", std::nullopt, dragged, dragged, 0},
      {"inside is taken as typed", kavun::TRect{10, 5, 30, 25}, dragged, {10, 5, 30, 25}, 0},
      {"one pixel at the far corner", kavun::TRect{63, 47, 64, 48}, dragged, {63, 47, 64, 48}, 0},
      {"too large is clamped", kavun::TRect{50, 40, 500, 900}, dragged, {50, 40, 64, 48}, 1},
      {"beyond the corner keeps a pixel",
       kavun::TRect{70, 60, 80, 70},
       dragged,
       {63, 47, 64, 48},
       1},
  };
  for (const Row& row : rows) {
    form_->HideSelection();
    Drag(QPoint(10, 8), QPoint(40, 32));
    ASSERT_EQ(ImageRect(), dragged) << row.name;
    dialogs_.selectionAsked.clear();
    dialogs_.selectionAnswer = row.answer;
    beeps_ = 0;
    form_->TB_SelNum->click();
    ASSERT_EQ(dialogs_.selectionAsked.size(), 1u) << row.name;
    EXPECT_EQ(dialogs_.selectionAsked[0], row.asked) << row.name;
    EXPECT_EQ(ImageRect(), row.selected) << row.name;
    EXPECT_TRUE(form_->ImgSelShape->isVisible()) << row.name;
    EXPECT_EQ(ShapeGeometry(), QRect(row.selected.Left * 2, row.selected.Top * 2,
                                     (row.selected.Right - row.selected.Left) * 2,
                                     (row.selected.Bottom - row.selected.Top) * 2))
        << row.name;
    EXPECT_TRUE(form_->ExecuteButton->isEnabled()) << row.name;
    EXPECT_EQ(beeps_, row.beeps) << row.name;
  }
  // Without a selection the dialog starts with the whole picture; Cancel leaves none.
  form_->HideSelection();
  dialogs_.selectionAsked.clear();
  dialogs_.selectionAnswer.reset();
  form_->TB_SelNum->click();
  ASSERT_EQ(dialogs_.selectionAsked.size(), 1u);
  EXPECT_EQ(dialogs_.selectionAsked[0], (kavun::TRect{0, 0, 64, 48}));
  EXPECT_FALSE(form_->ImgSelShape->isVisible());
  EXPECT_FALSE(form_->ExecuteButton->isEnabled());
}

// With the view focused the arrows move the selection by one image pixel and Shift+arrows its
// right or bottom edge, never leaving the picture; the status bar reads out the result.
TEST_F(SelectionPanelTest, ArrowKeysMoveAndResizeTheSelectionInsideThePicture) {
  Open(200, 160, 3);
  struct Row {
    const char* name;
    kavun::TRect start;
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    kavun::TRect expected;
  };
  const Row rows[] = {
      {"right", {2, 3, 12, 8}, Qt::Key_Right, Qt::NoModifier, {3, 3, 13, 8}},
      {"left", {2, 3, 12, 8}, Qt::Key_Left, Qt::NoModifier, {1, 3, 11, 8}},
      {"up", {2, 3, 12, 8}, Qt::Key_Up, Qt::NoModifier, {2, 2, 12, 7}},
      {"down", {2, 3, 12, 8}, Qt::Key_Down, Qt::NoModifier, {2, 4, 12, 9}},
      {"left stops at the edge", {0, 3, 12, 8}, Qt::Key_Left, Qt::NoModifier, {0, 3, 12, 8}},
      {"down stops at the edge",
       {2, 150, 12, 160},
       Qt::Key_Down,
       Qt::NoModifier,
       {2, 150, 12, 160}},
      {"shift right widens", {2, 3, 12, 8}, Qt::Key_Right, Qt::ShiftModifier, {2, 3, 13, 8}},
      {"shift left narrows", {2, 3, 12, 8}, Qt::Key_Left, Qt::ShiftModifier, {2, 3, 11, 8}},
      {"shift up keeps a row", {2, 3, 12, 4}, Qt::Key_Up, Qt::ShiftModifier, {2, 3, 12, 4}},
      {"shift down stops at the edge",
       {2, 3, 12, 160},
       Qt::Key_Down,
       Qt::ShiftModifier,
       {2, 3, 12, 160}},
  };
  form_->ImgBaseScrollBox->setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(form_->ImgBaseScrollBox->hasFocus());
  for (const Row& row : rows) {
    form_->SelectImageRect(row.start);
    QTest::keyClick(form_->ImgBaseScrollBox, row.key, row.mods);
    EXPECT_EQ(ImageRect(), row.expected) << row.name;
    EXPECT_EQ(Status(0).toStdString(),
              kavun::FormatSelectionStatus(row.expected.Left, row.expected.Top,
                                           row.expected.Right - row.expected.Left,
                                           row.expected.Bottom - row.expected.Top))
        << row.name;
  }
  // Without a selection the arrows scroll the view as before.
  form_->HideSelection();
  QScrollBar* h = form_->ImgBaseScrollBox->horizontalScrollBar();
  ASSERT_GT(h->maximum(), 0);
  h->setValue(0);
  QTest::keyClick(form_->ImgBaseScrollBox, Qt::Key_Right);
  EXPECT_GT(h->value(), 0);
  EXPECT_FALSE(form_->ImgSelShape->isVisible());
}

// Scramble, save as PNG, restart, open, 前回の範囲を選択, Execute the inverse: the original.
TEST_F(SelectionPanelTest, TheLastRectangleSurvivesARestartAndRestoresThePicture) {
  Open(64, 48, 1);
  const kavun::Bitmap original = form_->Global().WorkBitmap;
  EXPECT_FALSE(form_->TB_SelLast->isEnabled());
  Drag(QPoint(7, 5), QPoint(51, 37));
  const kavun::TRect rect = ImageRect();
  ASSERT_FALSE(rect.IsEmpty());
  form_->RadioButton_ProcRevMosEncode->setChecked(true);
  QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
  ASSERT_FALSE(SamePixels(form_->Global().WorkBitmap, original));
  EXPECT_TRUE(form_->TB_SelLast->isEnabled());
  const QString saved = TempPath(QStringLiteral("scrambled.png"));
  dialogs_.saveName = saved;
  form_->MainMenu_F_SaveAs->trigger();
  ASSERT_EQ(form_->Global().FileName, saved);

  RecreateForm();  // the settings file is kept
  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  EXPECT_FALSE(form_->TB_SelLast->isEnabled());  // no document yet
  dialogs_.openName = saved;
  form_->TB_LoadNew->click();
  ASSERT_TRUE(form_->TB_SelLast->isEnabled());
  form_->TB_SelLast->click();
  EXPECT_EQ(ImageRect(), rect);
  form_->RadioButton_ProcRevMosDecode->click();
  QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, original));

  // A picture too small for the rectangle: the command is disabled, and the selection stays as
  // it was.
  const QString small = WritePicture(QStringLiteral("small.png"), 20, 20);
  dialogs_.openName = small;
  form_->TB_LoadNew->click();
  ASSERT_EQ(form_->Global().WorkBitmap.Width(), 20);
  EXPECT_FALSE(form_->TB_SelLast->isEnabled());
  beeps_ = 0;
  form_->TB_SelLast->click();
  EXPECT_EQ(beeps_, 0);
  EXPECT_FALSE(form_->ImgSelShape->isVisible());
  EXPECT_TRUE(dialogs_.errors.empty());
}

}  // namespace

#ifdef KAVUN_CLI
namespace {

// Runs kavun-cli with `args`; true when it exits with status 0.
bool RunCli(const QStringList& args) {
  QProcess cli;
  cli.start(QStringLiteral(KAVUN_CLI), args);
  if (!cli.waitForFinished(30000)) return false;
  if (cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
    ADD_FAILURE() << "kavun-cli " << args.join(u' ').toStdString() << ": "
                  << cli.readAllStandardError().toStdString();
    return false;
  }
  return true;
}

QString RectArg(const kavun::TRect& r) {
  return QStringLiteral("%1,%2,%3,%4").arg(r.Left).arg(r.Top).arg(r.Right).arg(r.Bottom);
}

struct CliCase {
  const char* name;
  const char* method;    // the panel's method radio button
  QStringList scramble;  // the kavun-cli command and options that scramble
  QStringList restore;   // ... and those that restore
  std::function<void(TMainForm&, bool inverse)> choose;  // the same in the panel
};

class CliCompatibilityTest : public SelectionPanelTest,
                             public testing::WithParamInterface<CliCase> {};

// A picture scrambled in the window is restored by kavun-cli, and one scrambled by kavun-cli is
// restored in the window: both drive the same engine with the same parameters.
TEST_P(CliCompatibilityTest, EachSideRestoresTheOther) {
  const CliCase& c = GetParam();
  Open(70, 50, 3);
  const kavun::Bitmap original = form_->Global().WorkBitmap;
  Drag(QPoint(7, 10), QPoint(190, 140));
  const kavun::TRect rect = ImageRect();
  ASSERT_FALSE(rect.IsEmpty());
  const QString password = TempPath(QStringLiteral("password.txt"));
  {
    QFile f(password);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("ひみつ").toUtf8());
  }
  auto cliArgs = [&](const QStringList& base, const QString& in, const QString& out) {
    QStringList args = {base.front(), in, out, QStringLiteral("--rect"), RectArg(rect)};
    args += base.mid(1);
    if (base.front() == QStringLiteral("xor"))
      args += {QStringLiteral("--password-file"), password};
    return args;
  };

  // Window scrambles, kavun-cli restores.
  auto* method = form_->findChild<QRadioButton*>(QString::fromLatin1(c.method));
  ASSERT_NE(method, nullptr);
  QTest::mouseClick(method, Qt::LeftButton);
  c.choose(*form_, false);
  QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
  ASSERT_FALSE(SamePixels(form_->Global().WorkBitmap, original));
  const QString byWindow = TempPath(QStringLiteral("by-window.png"));
  dialogs_.saveName = byWindow;
  dialogs_.saveFilterIndex = 1;
  form_->MainMenu_F_SaveAs->trigger();
  const QString restoredByCli = TempPath(QStringLiteral("restored-by-cli.png"));
  ASSERT_TRUE(RunCli(cliArgs(c.restore, byWindow, restoredByCli)));
  EXPECT_TRUE(SamePixels(kavun::LoadImageFile(restoredByCli.toStdString()), original));

  // kavun-cli scrambles, the window restores.
  const QString byCli = TempPath(QStringLiteral("by-cli.png"));
  ASSERT_TRUE(RunCli(cliArgs(c.scramble, path_, byCli)));
  form_->LoadPicture(byCli);
  form_->Global().SetRatio(3);
  Drag(QPoint(7, 10), QPoint(190, 140));
  ASSERT_EQ(ImageRect(), rect);
  c.choose(*form_, true);
  QTest::mouseClick(form_->ExecuteButton, Qt::LeftButton);
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, original));
  EXPECT_TRUE(dialogs_.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Transforms, CliCompatibilityTest,
    testing::Values(CliCase{"Mosaic",
                            "RadioButton_ProcSelRM",
                            {"mosaic", "--block", "5x3", "--keys", "7,11"},
                            {"mosaic", "--block", "5x3", "--keys", "7,11", "--decode"},
                            [](TMainForm& f, bool inverse) {
                              f.Edit_ProcRevMosBlockW->setText(QStringLiteral("5"));
                              f.Edit_ProcRevMosBlockH->setText(QStringLiteral("3"));
                              f.Edit_ProcRevMosKey1->setText(QStringLiteral("7"));
                              f.Edit_ProcRevMosKey2->setText(QStringLiteral("11"));
                              (inverse ? f.RadioButton_ProcRevMosDecode
                                       : f.RadioButton_ProcRevMosEncode)
                                  ->setChecked(true);
                            }},
                    CliCase{"Shift",
                            "RadioButton_ProcSelBS",
                            {"shift", "--bits", "-9"},
                            {"shift", "--bits", "9"},
                            [](TMainForm& f, bool inverse) {
                              f.Edit_ProcBitShiftLen->setText(QStringLiteral("9"));
                              (inverse ? f.RadioButton_ProcBitShiftR : f.RadioButton_ProcBitShiftL)
                                  ->setChecked(true);
                            }},
                    CliCase{"XorMTwister",
                            "RadioButton_ProcSelXOR",
                            {"xor", "--mode", "mt"},
                            {"xor", "--mode", "mt"},
                            [](TMainForm& f, bool) {
                              f.RadioButton_ProcXorFuncMT->setChecked(true);
                              f.Edit_ProcXorKey->setText(QStringLiteral("ひみつ"));
                            }},
                    CliCase{"XorMd5Ofb",
                            "RadioButton_ProcSelXOR",
                            {"xor", "--mode", "md5ofb"},
                            {"xor", "--mode", "md5ofb"},
                            [](TMainForm& f, bool) {
                              f.RadioButton_ProcXorFuncMD5OFB->setChecked(true);
                              f.Edit_ProcXorKey->setText(QStringLiteral("ひみつ"));
                            }}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
#endif
