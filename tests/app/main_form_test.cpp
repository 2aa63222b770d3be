// The main window as it starts: its controls, menus, tool buttons, shortcuts and status bar,
// and the wait cursor of long commands.
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "app/busy_scope.h"
#include "app_test_support.h"

namespace {

TEST_F(MainFormTest, StartsWithOnlyOpenAndExitAndTheDesignedControls) {
  TMainForm* f = form_.get();
  EXPECT_EQ(f->windowTitle(), QStringLiteral("Kavun"));
  EXPECT_EQ(f->size(), QSize(594, 477));
  EXPECT_TRUE(ActionEnabled(f, "MainMenu_F_Open"));
  EXPECT_TRUE(ActionEnabled(f, "MainMenu_F_Exit"));
  EXPECT_TRUE(ButtonEnabled(f, "TB_LoadNew"));
  for (const char* name : {"MainMenu_F_Close", "MainMenu_F_ReOpen", "MainMenu_F_Save",
                           "MainMenu_F_SaveAs", "MainMenu_PR"}) {
    EXPECT_FALSE(ActionEnabled(f, name)) << name;
  }
  for (const char* name : {"TB_Close", "TB_Load", "TB_Save", "TB_SaveNew", "TB_RatioPlus",
                           "TB_RatioMinus", "TB_SelMax", "TB_SelNum", "TB_SelLast"}) {
    EXPECT_FALSE(ButtonEnabled(f, name)) << name;
  }
  EXPECT_FALSE(Find<QPushButton>(f, "ExecuteButton")->isEnabled());
  EXPECT_EQ(Find<QStackedWidget>(f, "ProcValPageControl")->currentIndex(), 0);
  EXPECT_EQ(Find<QWidget>(f, "MainPBox")->size(), QSize(0, 0));
  EXPECT_TRUE(Find<QAction>(f, "MainMenu_PR_100")->isChecked());
  EXPECT_TRUE(Find<QAction>(f, "MainMenu_S_NoTrack")->isChecked());
  EXPECT_FALSE(f->ImgBaseScrollBox->horizontalScrollBar()->hasTracking());
  EXPECT_TRUE(f->acceptDrops());
}

TEST_F(MainFormTest, ToolButtonsSitAtTheirPositionsWithTheirHints) {
  // Each hint is the designed one followed by the command's shortcut.
  struct Row {
    const char* name;
    int x;
    const char* hint;
  };
  const Row rows[] = {{"TB_LoadNew", 0, "開く (Ctrl+O)"},
                      {"TB_Close", 24, "閉じる (Ctrl+W)"},
                      {"TB_Load", 56, "同じファイルを開きなおす (F5)"},
                      {"TB_Save", 88, "上書き保存 (Ctrl+S)"},
                      {"TB_SaveNew", 112, "名前を付けて保存 (Ctrl+Shift+S)"},
                      {"TB_RatioPlus", 160, "拡大 (Ctrl++)"},
                      {"TB_RatioMinus", 184, "縮小 (Ctrl+-)"},
                      {"TB_SelMax", 232, "全体を選択 (Ctrl+A)"},
                      {"TB_SelNum", 256, "選択範囲を数値で指定"},
                      {"TB_SelLast", 280, "前回の範囲を選択"}};
  for (const Row& row : rows) {
    auto* b = Find<QToolButton>(form_.get(), row.name);
    EXPECT_EQ(b->geometry().x(), row.x) << row.name;
    EXPECT_EQ(b->size(), QSize(23, 23)) << row.name;
    EXPECT_TRUE(b->autoRaise());
    if (row.hint) {
      EXPECT_EQ(b->toolTip(), QString::fromUtf8(row.hint)) << row.name;
    }
  }
  EXPECT_EQ(Find<QWidget>(form_.get(), "ToolButtonPanel")->height(), 25);
  EXPECT_EQ(Find<QWidget>(form_.get(), "ToolPanel")->width(), 105);
}

// Every command answers its standard key, and only while the command itself is enabled.
TEST_F(MainFormTest, ShortcutsReachTheCommandsWhileTheyAreEnabled) {
  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  const QString picture = WritePicture(QStringLiteral("keys.bmp"), 40, 30);
  // Without a document, close and zoom do nothing.
  QTest::keyClick(form_.get(), Qt::Key_W, Qt::ControlModifier);
  QTest::keyClick(form_.get(), Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_EQ(form_->Global().GetRatio(), 1);
  dialogs_.openName = picture;
  QTest::keyClick(form_.get(), Qt::Key_O, Qt::ControlModifier);
  ASSERT_EQ(form_->Global().WorkBitmap.Width(), 40);
  QTest::keyClick(form_.get(), Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_EQ(form_->Global().GetRatio(), 2);
  QTest::keyClick(form_.get(), Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_EQ(form_->Global().GetRatio(), 3);
  QTest::keyClick(form_.get(), Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_EQ(form_->Global().GetRatio(), 2);
  // F5 reads the file again, dropping the change made since.
  form_->Global().WorkBitmap.ScanLine(0)[0] ^= 0xFF;
  QTest::keyClick(form_.get(), Qt::Key_F5);
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, MakePatternBitmap(40, 30)));
  // Ctrl+S asks before writing over the file (answered No); Ctrl+Shift+S opens the save dialog
  // (cancelled) and is not taken for Ctrl+S.
  dialogs_.answers = {false};
  QTest::keyClick(form_.get(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(dialogs_.questions.size(), 1u);
  dialogs_.saveName.reset();
  QTest::keyClick(form_.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(dialogs_.saveStartedAt.size(), 1u);
  EXPECT_EQ(dialogs_.questions.size(), 1u);
  // Ctrl+W closes the picture; then save, save as and reopen do nothing.
  QTest::keyClick(form_.get(), Qt::Key_W, Qt::ControlModifier);
  EXPECT_TRUE(form_->Global().WorkBitmap.IsEmpty());
  EXPECT_FALSE(form_->MainMenu_F_Save->isEnabled());
  QTest::keyClick(form_.get(), Qt::Key_S, Qt::ControlModifier);
  QTest::keyClick(form_.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(form_.get(), Qt::Key_F5);
  EXPECT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_EQ(dialogs_.saveStartedAt.size(), 1u);
  EXPECT_TRUE(form_->Global().WorkBitmap.IsEmpty());
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(MainFormTest, StatusBarHasTwoPanelsTheLastStretchingToTheEnd) {
  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  QStatusBar* bar = form_->MainStatusBar;
  const QList<QLabel*> panels = bar->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(panels.size(), 2);
  EXPECT_EQ(form_->StatusPanels[0]->width(), 200);
  EXPECT_TRUE(form_->StatusPanels[0]->text().isEmpty());
  EXPECT_TRUE(form_->StatusPanels[1]->text().isEmpty());
  // The last panel takes the rest of the bar, up to the size grip.
  EXPECT_GT(form_->StatusPanels[1]->width(), 200);
  EXPECT_GT(form_->StatusPanels[1]->geometry().right(), bar->width() - 30);
  // Nothing between the two panels.
  EXPECT_LT(form_->StatusPanels[1]->x(), form_->StatusPanels[0]->geometry().right() + 10);
  // The first text does not make the bar higher (the view would lose a row and jump).
  const int height = bar->height();
  form_->StatusPanels[0]->setText(QStringLiteral("( 110 ,  70 ) W: 100 H:  50"));
  form_->StatusPanels[1]->setText(QStringLiteral("12"));
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->height(), height);
}

// Open, save and the other long commands show the wait cursor while they work, also when they
// fail, and a click made meanwhile does not become a command afterwards.
TEST_F(MainFormTest, LongWorkShowsTheWaitCursorAndDropsInputMadeMeanwhile) {
  {
    TBusyScope busy(form_.get());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    TBusyScope inner(form_.get());
    EXPECT_TRUE(TBusyScope::IsBusy());
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  dialogs_.openName = TempPath(QStringLiteral("missing.png"));
  form_->MainMenu_F_OpenClick();
  EXPECT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  form_->LoadPicture(WritePicture(QStringLiteral("busy.bmp")));
  // While the overwrite question is answered, the user clicks 上書き保存 again; the click
  // arrives while the picture is written.
  dialogs_.answers = {true};
  dialogs_.onQuestion = [this] {
    const QPoint centre = form_->TB_Save->rect().center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QCoreApplication::postEvent(form_->TB_Save,
                                  new QMouseEvent(type, centre, form_->TB_Save->mapToGlobal(centre),
                                                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    }
  };
  form_->MainMenu_F_SaveClick();
  dialogs_.onQuestion = nullptr;
  QCoreApplication::processEvents();
  EXPECT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_EQ(dialogs_.errors.size(), 1u);  // the missing file above only
}

TEST_F(MainFormTest, MenusHoldTheirItemsInOrder) {
  auto captions = [](QMenu* menu) {
    QStringList list;
    for (QAction* a : menu->actions()) list << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return list;
  };
  EXPECT_EQ(captions(form_->MainMenu_F),
            (QStringList{"開く", "閉じる", "-", "同じファイルを開きなおす", "-", "上書き保存",
                         "名前を付けて保存", "-", "終了"}));
  EXPECT_EQ(captions(form_->MainMenu_PR), (QStringList{"100%", "200%", "300%", "400%", "500%",
                                                       "600%", "700%", "800%", "900%", "1000%"}));
  EXPECT_EQ(captions(form_->MainMenu_S), (QStringList{"スクロールバーを離したらスクロール",
                                                      "スクロールバーを動かすと同時にスクロール",
                                                      "-", "上書き保存の時、確認ダイアログを出す",
                                                      "Jpegで保存する時、確認ダイアログを出す"}));
  EXPECT_EQ(captions(form_->MainMenu_H), (QStringList{"Readme.txt", "About"}));
  EXPECT_EQ(form_->MainMenu_PR->title(), QStringLiteral("表示倍率"));
}

}  // namespace
