// The view: zoom, scrolling, the selection brought into view by the commands that select
// without the mouse, Ctrl+wheel zoom, dragging the view, the keyboard on the view only and the
// mosaic's clear strips.
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

TEST_F(MainFormTest, ZoomControlsFollowTheRatio) {
  form_->LoadPicture(WritePicture(QStringLiteral("z.png"), 5, 4));
  TRatioSpy spy(form_.get());
  for (int tag = 1; tag <= 10; ++tag) {
    QAction* item = form_->MainMenu_PR_Items[static_cast<std::size_t>(tag - 1)];
    item->trigger();
    EXPECT_EQ(form_->Global().GetRatio(), tag);
    EXPECT_TRUE(item->isChecked());
    EXPECT_EQ(form_->MainPBox->size(), QSize(5 * tag, 4 * tag));
    EXPECT_EQ(form_->TB_RatioPlus->isEnabled(), tag < 10) << tag;
    EXPECT_EQ(form_->TB_RatioMinus->isEnabled(), tag > 1) << tag;
    EXPECT_TRUE(form_->MainPBox->isEnabled());
  }
  // The marked item again still sends the notification, with equal values.
  spy.seen.clear();
  form_->MainMenu_PR_Items[9]->trigger();
  ASSERT_EQ(spy.seen.size(), 1u);
  EXPECT_EQ(spy.seen[0], std::make_pair(10, 10));
  form_->TB_RatioMinus->click();
  EXPECT_EQ(form_->Global().GetRatio(), 9);
  form_->TB_RatioPlus->click();
  EXPECT_EQ(form_->Global().GetRatio(), 10);
  EXPECT_FALSE(form_->TB_RatioPlus->isEnabled());
}

TEST_F(MainFormTest, ARatioChangeScrollsBackToTheTopLeftCorner) {
  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  form_->LoadPicture(WritePicture(QStringLiteral("big.png"), 600, 500));
  QApplication::processEvents();
  QScrollBar* h = form_->ImgBaseScrollBox->horizontalScrollBar();
  QScrollBar* v = form_->ImgBaseScrollBox->verticalScrollBar();
  ASSERT_GT(h->maximum(), 100);
  ASSERT_GT(v->maximum(), 100);
  h->setValue(100);
  v->setValue(80);
  form_->MainMenu_PR_Items[0]->trigger();  // the marked item: same ratio
  EXPECT_EQ(h->value(), 0);
  EXPECT_EQ(v->value(), 0);
  h->setValue(50);
  form_->TB_RatioPlus->click();
  QApplication::processEvents();
  EXPECT_EQ(h->value(), 0);
  EXPECT_EQ(v->value(), 0);
  EXPECT_EQ(form_->MainPBox->size(), QSize(1200, 1000));
}

TEST_F(MainFormTest, ScrollTrackingItemsSwitchBothBars) {
  form_->MainMenu_S_Track->trigger();
  EXPECT_TRUE(form_->MainMenu_S_Track->isChecked());
  EXPECT_FALSE(form_->MainMenu_S_NoTrack->isChecked());
  EXPECT_TRUE(form_->ImgBaseScrollBox->horizontalScrollBar()->hasTracking());
  EXPECT_TRUE(form_->ImgBaseScrollBox->verticalScrollBar()->hasTracking());
  form_->MainMenu_S_Track->trigger();  // already marked: stays
  EXPECT_TRUE(form_->MainMenu_S_Track->isChecked());
  EXPECT_TRUE(form_->ImgBaseScrollBox->verticalScrollBar()->hasTracking());
  form_->MainMenu_S_NoTrack->trigger();
  EXPECT_TRUE(form_->MainMenu_S_NoTrack->isChecked());
  EXPECT_FALSE(form_->ImgBaseScrollBox->horizontalScrollBar()->hasTracking());
  EXPECT_FALSE(form_->ImgBaseScrollBox->verticalScrollBar()->hasTracking());
}

TEST_F(ViewNavigationTest, EachCommandBringsTheSelectionIntoViewWithItsReadOut) {
  Open(600, 400, 10);  // a 6000 x 4000 view
  ASSERT_EQ(Shown().topLeft(), QPoint(0, 0));

  // 前回の範囲を選択, far from the part shown.
  const kavun::TRect last{500, 300, 520, 320};
  form_->SetLastSelection(last);
  ASSERT_TRUE(form_->TB_SelLast->isEnabled());
  form_->TB_SelLast->click();
  EXPECT_TRUE(Shown().contains(SelectionInView())) << Shown().x() << "," << Shown().y();
  EXPECT_EQ(Status(0), ReadOut(last));

  // 選択範囲を数値で指定, back at the other end; the dialog is told the picture's size.
  const kavun::TRect typed{3, 5, 13, 9};
  dialogs_.selectionAnswer = typed;
  form_->TB_SelNum->click();
  EXPECT_EQ(dialogs_.selectionPictureSize, std::make_pair(600, 400));
  EXPECT_TRUE(Shown().contains(SelectionInView()));
  EXPECT_EQ(Status(0), ReadOut(typed));
  const QPoint before = Shown().topLeft();

  // A selection larger than the viewport shows its start when none of it was shown.
  dialogs_.selectionAnswer = kavun::TRect{200, 150, 590, 390};
  form_->TB_SelNum->click();
  EXPECT_EQ(Shown().topLeft(), QPoint(2000, 1500));
  EXPECT_NE(Shown().topLeft(), before);

  // Each arrow step keeps the moving selection in view.
  form_->SelectImageRect(kavun::TRect{10, 10, 14, 13});
  form_->ImgBaseScrollBox->setFocus();
  QApplication::processEvents();
  for (int step = 0; step < 120; ++step) {
    QTest::keyClick(form_->ImgBaseScrollBox, Qt::Key_Right);
    ASSERT_TRUE(Shown().contains(SelectionInView())) << "step " << step;
  }
  for (int step = 0; step < 60; ++step) {
    QTest::keyClick(form_->ImgBaseScrollBox, Qt::Key_Down, Qt::ShiftModifier);
    // Grown beyond the viewport's height: its moving bottom edge stays shown.
    const QRect sel = SelectionInView();
    ASSERT_TRUE(Shown().intersects(QRect(sel.left(), sel.bottom() - 9, sel.width(), 10)))
        << "step " << step;
  }
  EXPECT_EQ(Status(0), ReadOut(form_->Selection().SelectionImageRect()));
}

TEST_F(ViewNavigationTest, LastRectangleIsOfferedOnlyWhenItFits) {
  form_->SetLastSelection(kavun::TRect{10, 10, 50, 40});
  EXPECT_FALSE(form_->TB_SelLast->isEnabled());  // no picture
  Open(40, 30, 1);
  EXPECT_FALSE(form_->TB_SelLast->isEnabled());
  Open(50, 40, 1);
  EXPECT_TRUE(form_->TB_SelLast->isEnabled());
  form_->MainMenu_F_Close->trigger();
  EXPECT_FALSE(form_->TB_SelLast->isEnabled());
}

TEST_F(ViewNavigationTest, CtrlWheelZoomsKeepingThePixelUnderThePointer) {
  Open(600, 400, 2);
  struct Step {
    int angle;
    int ratioAfter;
  };
  HBar()->setValue(150);
  VBar()->setValue(90);
  const QPoint at(123, 77);  // in the viewport
  for (const Step& step : {Step{120, 3}, Step{120, 4}, Step{-120, 3}, Step{60, 3}, Step{60, 4}}) {
    const int r = form_->Global().GetRatio();
    const QPointF pixel((HBar()->value() + at.x() + 0.5) / r, (VBar()->value() + at.y() + 0.5) / r);
    // What reaches the viewport after the view beneath the pointer has ignored it.
    QWidget* viewport = form_->ImgBaseScrollBox->viewport();
    QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, step.angle), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
    ASSERT_EQ(form_->Global().GetRatio(), step.ratioAfter) << step.angle;
    const int n = step.ratioAfter;
    // The same image pixel lies under the pointer, to within the rounding of one view pixel.
    EXPECT_NEAR((HBar()->value() + at.x() + 0.5) / n, pixel.x(), 1.0 / n + 1e-9);
    EXPECT_NEAR((VBar()->value() + at.y() + 0.5) / n, pixel.y(), 1.0 / n + 1e-9);
    EXPECT_EQ(static_cast<int>((HBar()->value() + at.x()) / n), static_cast<int>(pixel.x()));
  }
  // Without Ctrl the wheel scrolls and the ratio stays.
  const int v = VBar()->value();
  QWidget* viewport = form_->ImgBaseScrollBox->viewport();
  QWheelEvent plain(QPointF(10, 10), viewport->mapToGlobal(QPoint(10, 10)), QPoint(),
                    QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(viewport, &plain);
  EXPECT_EQ(form_->Global().GetRatio(), 4);
  EXPECT_GT(VBar()->value(), v);
}

TEST_F(ViewNavigationTest, MiddleButtonAndSpaceWithLeftButtonDragTheView) {
  Open(400, 300, 5);
  QWindow* window = form_->windowHandle();
  struct Drag {
    const char* name;
    Qt::MouseButton button;
    bool space;
  };
  for (const Drag& d :
       {Drag{"middle", Qt::MiddleButton, false}, Drag{"space", Qt::LeftButton, true}}) {
    SCOPED_TRACE(d.name);
    HBar()->setValue(500);
    VBar()->setValue(400);
    form_->ImgBaseScrollBox->setFocus();
    QApplication::processEvents();
    if (d.space) QTest::keyPress(form_->ImgBaseScrollBox, Qt::Key_Space);
    // Points of the window: the view moves beneath them.
    const QPoint from = InWindow(QPoint(HBar()->value() + 200, VBar()->value() + 150));
    QTest::mousePress(window, d.button, {}, from);
    QTest::mouseMove(window, from + QPoint(-30, -20));
    QTest::mouseMove(window, from + QPoint(-60, -40));
    QTest::mouseRelease(window, d.button, {}, from + QPoint(-60, -40));
    if (d.space) QTest::keyRelease(form_->ImgBaseScrollBox, Qt::Key_Space);
    // The picture follows the pointer: dragged up and left, the view shows further right and down.
    EXPECT_EQ(HBar()->value(), 560);
    EXPECT_EQ(VBar()->value(), 440);
    EXPECT_FALSE(form_->Selection().Visible());  // no rubber band was drawn
  }
  // A plain left drag still draws a rubber band.
  const QPoint from(HBar()->value() + 100, VBar()->value() + 100);
  QTest::mousePress(window, Qt::LeftButton, {}, InWindow(from));
  QTest::mouseMove(window, InWindow(from + QPoint(50, 50)));
  QTest::mouseRelease(window, Qt::LeftButton, {}, InWindow(from + QPoint(50, 50)));
  EXPECT_TRUE(form_->Selection().Visible());
  EXPECT_EQ(HBar()->value(), 560);
}

TEST_F(ViewNavigationTest, ArrowKeysMoveTheSelectionOnlyWhileTheViewHasTheKeyboard) {
  Open(100, 80, 1);
  form_->SelectImageRect(kavun::TRect{10, 10, 20, 20});
  // After a click on a method button the arrows belong to the buttons.
  form_->RadioButton_ProcSelXOR->setFocus();
  QApplication::processEvents();
  const int designedFrame = form_->ImgBaseScrollBox->frameStyle();
  EXPECT_EQ(designedFrame, QFrame::StyledPanel | QFrame::Sunken);
  QTest::keyClick(form_->RadioButton_ProcSelXOR, Qt::Key_Down);
  EXPECT_EQ(form_->Selection().SelectionImageRect(), (kavun::TRect{10, 10, 20, 20}));
  // On the view they move the selection, and the view shows that it has the keyboard.
  form_->ImgBaseScrollBox->setFocus();
  QApplication::processEvents();
  EXPECT_NE(form_->ImgBaseScrollBox->frameStyle(), designedFrame);
  QTest::keyClick(form_->ImgBaseScrollBox, Qt::Key_Down);
  EXPECT_EQ(form_->Selection().SelectionImageRect(), (kavun::TRect{10, 11, 20, 21}));
  form_->Edit_ProcXorKey->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(form_->ImgBaseScrollBox->frameStyle(), designedFrame);
}

TEST_F(ViewNavigationTest, TheMosaicPageShowsTheStripsNoWholeBlockCovers) {
  Open(100, 80, 1);
  form_->Edit_ProcRevMosBlockW->setText(QStringLiteral("16"));
  form_->Edit_ProcRevMosBlockH->setText(QStringLiteral("10"));
  struct Case {
    kavun::TRect rect;
    QString text;
  };
  const Case cases[] = {
      {{5, 5, 45, 38}, QStringLiteral("右 8 列・下 3 行はそのまま")},
      {{5, 5, 37, 38}, QStringLiteral("下 3 行はそのまま")},
      {{5, 5, 45, 25}, QStringLiteral("右 8 列はそのまま")},
      {{5, 5, 37, 25}, QString()},
      {{5, 5, 20, 38}, QStringLiteral("ブロックに満たず全体がそのまま")},
  };
  for (const Case& c : cases) {
    form_->SelectImageRect(c.rect);
    EXPECT_EQ(form_->MosaicClearText(), c.text) << c.text.toStdString();
  }
  // The strips are hatched on the view, the covered blocks are not touched.
  form_->SelectImageRect(kavun::TRect{5, 5, 45, 38});
  const QImage shown = form_->MainPBox->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const kavun::Bitmap& picture = form_->Global().WorkBitmap;
  const auto differs = [&](int x, int y) {
    const kavun::PaletteEntry c = picture.PixelColor(x, y);
    return shown.pixel(x, y) != qRgb(c.Red, c.Green, c.Blue);
  };
  int hatched = 0;
  for (int y = 5; y < 38; ++y) {
    for (int x = 5; x < 45; ++x) {
      const bool covered = x < 37 && y < 35;
      if (covered) {
        ASSERT_FALSE(differs(x, y)) << x << "," << y;
      } else if (differs(x, y)) {
        ++hatched;
      }
    }
  }
  EXPECT_GT(hatched, 20);
  // Another method's page: nothing is marked, and the first panel says it when the page comes.
  form_->RadioButton_ProcSelBS->click();
  EXPECT_EQ(form_->MosaicClearText(), QString());
  form_->RadioButton_ProcSelRM->click();
  EXPECT_EQ(Status(0), QStringLiteral("右 8 列・下 3 行はそのまま"));
}

}  // namespace
