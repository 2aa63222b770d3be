// The selection rectangle, driven by mouse and key events on the real widgets of a shown
// window: dragged, moved, resized, selected whole, by number, by the arrows and the last one.
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
