// The main window through its real widgets: start-up state, zoom, file commands, error box.
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <string>

#include "app/busy_scope.h"
#include "app/error_box.h"
#include "app/image_view.h"
#include "app_test_support.h"
#include "imagefile/imagefile.h"

namespace {

template <typename T>
T* Find(QObject* root, const char* name) {
  T* found = root->findChild<T*>(QLatin1String(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

bool ActionEnabled(TMainForm* form, const char* name) {
  if (QString::fromLatin1(name) == QLatin1String("MainMenu_PR")) {
    return form->MainMenu_PR->menuAction()->isEnabled();
  }
  return Find<QAction>(form, name)->isEnabled();
}

bool ButtonEnabled(TMainForm* form, const char* name) {
  return Find<QToolButton>(form, name)->isEnabled();
}

// Records the ratio notifications the window receives.
class TRatioSpy : public QObject {
 public:
  explicit TRatioSpy(QObject* target) : target_(target) { target->installEventFilter(this); }
  ~TRatioSpy() override { target_->removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == TRatioChangedEvent::kType) {
      const auto* e = static_cast<TRatioChangedEvent*>(event);
      seen.emplace_back(e->WParam, e->LParam);
    }
    return false;
  }
  std::vector<std::pair<int, int>> seen;

 private:
  QObject* target_;
};

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
  QTest::keyClick(form_.get(), Qt::Key_W, Qt::ControlModifier);
  EXPECT_TRUE(form_->Global().WorkBitmap.IsEmpty());
  EXPECT_FALSE(form_->MainMenu_F_Save->isEnabled());
  const struct {
    QAction* action;
    QKeySequence key;
  } menus[] = {{form_->MainMenu_F_Open, QKeySequence(Qt::CTRL | Qt::Key_O)},
               {form_->MainMenu_F_Close, QKeySequence(Qt::CTRL | Qt::Key_W)},
               {form_->MainMenu_F_ReOpen, QKeySequence(Qt::Key_F5)},
               {form_->MainMenu_F_Save, QKeySequence(Qt::CTRL | Qt::Key_S)},
               {form_->MainMenu_F_SaveAs, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
               {form_->MainMenu_F_Exit, QKeySequence(Qt::CTRL | Qt::Key_Q)},
               {form_->MainMenu_H_RM, QKeySequence(Qt::Key_F1)}};
  for (const auto& m : menus) {
    EXPECT_EQ(m.action->shortcut(), m.key) << m.action->objectName().toStdString();
  }
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

TEST_F(MainFormTest, OpeningEnablesTheDocumentCommandsAndShowsThePath) {
  const QString path = WritePicture(QStringLiteral("a.png"));
  dialogs_.openName = path;
  form_->MainMenu_F_Open->trigger();
  TMainForm* f = form_.get();
  EXPECT_EQ(f->windowTitle(), QStringLiteral("Kavun  \"") + path + u'"');
  EXPECT_EQ(f->Global().FileName, path);
  for (const char* name : {"MainMenu_F_Close", "MainMenu_F_ReOpen", "MainMenu_F_Save",
                           "MainMenu_F_SaveAs", "MainMenu_PR"}) {
    EXPECT_TRUE(ActionEnabled(f, name)) << name;
  }
  for (const char* name :
       {"TB_Close", "TB_Load", "TB_Save", "TB_SaveNew", "TB_SelMax", "TB_SelNum", "TB_RatioPlus"}) {
    EXPECT_TRUE(ButtonEnabled(f, name)) << name;
  }
  EXPECT_FALSE(ButtonEnabled(f, "TB_RatioMinus"));
  EXPECT_FALSE(ButtonEnabled(f, "TB_SelLast"));  // no Execute yet
  EXPECT_EQ(f->MainPBox->size(), QSize(40, 30));
  EXPECT_TRUE(dialogs_.errors.empty());

  form_->MainMenu_F_Close->trigger();
  EXPECT_EQ(f->windowTitle(), QStringLiteral("Kavun"));
  EXPECT_EQ(f->Global().FileName, path);  // close keeps the name
  EXPECT_TRUE(f->Global().WorkBitmap.IsEmpty());
  EXPECT_EQ(f->MainPBox->size(), QSize(0, 0));
  for (const char* name : {"TB_Close", "TB_Load", "TB_Save", "TB_SaveNew", "TB_SelMax", "TB_SelNum",
                           "TB_RatioPlus", "TB_RatioMinus"}) {
    EXPECT_FALSE(ButtonEnabled(f, name)) << name;
  }
  EXPECT_FALSE(ActionEnabled(f, "MainMenu_PR"));
}

TEST_F(MainFormTest, ACancelledOpenDialogChangesNothing) {
  dialogs_.openName.reset();
  form_->TB_LoadNew->click();
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Kavun"));
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(MainFormTest, AFailedLoadKeepsTheDocumentAndShowsTheErrorBox) {
  const QString good = WritePicture(QStringLiteral("good.png"), 12, 9);
  form_->LoadPicture(good);
  form_->Global().SetRatio(2);
  // A PNG file named .jpg goes to the JPEG decoder and fails.
  QFile::copy(good, TempPath(QStringLiteral("fake.jpg")));
  dialogs_.openName = TempPath(QStringLiteral("fake.jpg"));
  form_->MainMenu_F_Open->trigger();
  ASSERT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_EQ(dialogs_.errors[0].caption, ApplicationTitle());
  EXPECT_EQ(form_->windowTitle(), TMainForm::CaptionFor(good));
  EXPECT_EQ(form_->Global().FileName, good);
  EXPECT_EQ(form_->Global().GetRatio(), 2);
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, MakePatternBitmap(12, 9)));
  EXPECT_TRUE(form_->isEnabled());

  dialogs_.openName = TempPath(QStringLiteral("missing.png"));
  form_->MainMenu_F_Open->trigger();
  EXPECT_EQ(dialogs_.errors.size(), 2u);
  EXPECT_EQ(form_->Global().FileName, good);
}

// A folder on a tiny file system that is already full, as a full disk is met. Mounting needs
// root (CI runs the tests as root); elsewhere Mounted() is false and the case is skipped.
class TFullFolder {
 public:
  explicit TFullFolder(const QString& path) : path_(QFile::encodeName(path).toStdString()) {
    QDir().mkpath(path);
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=16k") == 0;
    if (!mounted_) return;
    const int fd = ::open((path_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const std::string block(4096, 'x');
    while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) {
    }
    if (fd >= 0) ::close(fd);
  }
  ~TFullFolder() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  TFullFolder(const TFullFolder&) = delete;
  TFullFolder& operator=(const TFullFolder&) = delete;
  bool Mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

// Checks file permissions as the ordinary user "nobody" would meet them, also when the tests
// run as root (who may write anywhere): the filesystem user id of this thread is changed, which
// drops root's right to override permissions until it is changed back.
class TOrdinaryFileUser {
 public:
  TOrdinaryFileUser() : root_(::geteuid() == 0) {
    if (root_) ::setfsuid(kNobody);
  }
  ~TOrdinaryFileUser() {
    if (root_) ::setfsuid(0);
  }
  TOrdinaryFileUser(const TOrdinaryFileUser&) = delete;
  TOrdinaryFileUser& operator=(const TOrdinaryFileUser&) = delete;

 private:
  static constexpr uid_t kNobody = 65534;
  bool root_;
};

bool HasJapanese(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) {
    return (c.unicode() >= 0x3040 && c.unicode() <= 0x30FF) ||
           (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF);
  });
}

// Whatever goes wrong while opening or saving, the error box says it in Japanese, names the
// file, and the document stays as it was. The kind is checked, not the wording.
TEST_F(MainFormTest, FailuresShowAJapaneseMessageNamingTheFile) {
  const QString good = WritePicture(QStringLiteral("good.png"), 30, 20);
  ASSERT_TRUE(QFile::copy(good, TempPath(QStringLiteral("fake.jpg"))));  // a PNG named .jpg
  {
    QFile in(good);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    QFile out(TempPath(QStringLiteral("cut.png")));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(bytes.size() * 2 / 3));
  }
  ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("locked")));
  QFile::setPermissions(TempPath(QStringLiteral("locked")),
                        QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  const auto open = [this](const QString& path) {
    return [this, path] {
      dialogs_.openName = path;
      form_->MainMenu_F_Open->trigger();
    };
  };
  const auto saveAsBmp = [this](const QString& path) {
    dialogs_.saveName = path;
    dialogs_.saveFilterIndex = 3;
    form_->MainMenu_F_SaveAs->trigger();
  };
  struct Case {
    const char* name;
    std::function<void()> act;
    kavun::ErrorKind kind;
    QString file;
  };
  const Case cases[] = {
      {"missing file", open(TempPath(QStringLiteral("missing.png"))),
       kavun::ErrorKind::FileNotFound, TempPath(QStringLiteral("missing.png"))},
      {"PNG named .jpg", open(TempPath(QStringLiteral("fake.jpg"))),
       kavun::ErrorKind::NotThisFormat, TempPath(QStringLiteral("fake.jpg"))},
      {"truncated PNG", open(TempPath(QStringLiteral("cut.png"))), kavun::ErrorKind::FileEndsEarly,
       TempPath(QStringLiteral("cut.png"))},
      {"full disk", [&] { saveAsBmp(TempPath(QStringLiteral("full/new.bmp"))); },
       kavun::ErrorKind::DiskFull, TempPath(QStringLiteral("full/new.bmp"))},
      {"unwritable folder",
       [&] {
         const TOrdinaryFileUser user;
         saveAsBmp(TempPath(QStringLiteral("locked/new.bmp")));
       },
       kavun::ErrorKind::PermissionDenied, TempPath(QStringLiteral("locked/new.bmp"))},
  };
  const TFullFolder full(TempPath(QStringLiteral("full")));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.kind == kavun::ErrorKind::DiskFull && !full.Mounted()) {
      std::printf("skipped \"%s\": a full file system can be mounted by root only\n", c.name);
      continue;
    }
    form_->LoadPicture(good);
    dialogs_.errors.clear();
    c.act();
    ASSERT_EQ(dialogs_.errors.size(), 1u);
    const TFakeDialogs::TMessage& shown = dialogs_.errors[0];
    EXPECT_EQ(shown.kind, c.kind) << kavun::ErrorKindName(shown.kind) << ": "
                                  << shown.text.toStdString();
    EXPECT_TRUE(shown.text.contains(c.file)) << shown.text.toStdString();
    EXPECT_TRUE(HasJapanese(shown.text)) << shown.text.toStdString();
    EXPECT_EQ(shown.caption, ApplicationTitle());
    EXPECT_EQ(form_->Global().FileName, good);
    EXPECT_EQ(form_->windowTitle(), TMainForm::CaptionFor(good));
    if (c.kind == kavun::ErrorKind::DiskFull || c.kind == kavun::ErrorKind::PermissionDenied) {
      EXPECT_FALSE(QFile::exists(c.file));  // nothing half-written is left behind
    }
  }
}

TEST_F(MainFormTest, UpperCaseExtensionsOpen) {
  for (const char* name : {"UP.PNG", "pic.Png", "x.JPEG", "y.BMP"}) {
    const QString path = WritePicture(QString::fromLatin1(name), 8, 6);
    form_->LoadPicture(path);
    EXPECT_EQ(form_->Global().FileName, path);
    EXPECT_EQ(form_->Global().WorkBitmap.Width(), 8);
  }
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(MainFormTest, SetRatioClampsAndNotifiesOnEveryCall) {
  TRatioSpy spy(form_.get());
  TGlobalValue& g = form_->Global();
  struct Row {
    int given;
    int stored;
  };
  const Row rows[] = {{3, 3}, {3, 3}, {11, 10}, {0, 1}, {-5, 1}, {10, 10}, {1, 1}};
  int previous = g.GetRatio();
  for (const Row& row : rows) {
    spy.seen.clear();
    g.SetRatio(row.given);
    EXPECT_EQ(g.GetRatio(), row.stored);
    ASSERT_EQ(spy.seen.size(), 1u) << row.given;
    EXPECT_EQ(spy.seen[0], std::make_pair(row.stored, previous)) << row.given;
    previous = row.stored;
  }
  EXPECT_EQ(WM_RATIOCHANGED, 0x8014);
}

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

TEST_F(MainFormTest, ReopenDiscardsChangesAndKeepsTheCaption) {
  const QString path = WritePicture(QStringLiteral("r.png"), 10, 10);
  form_->LoadPicture(path);
  form_->Global().SetRatio(4);
  form_->Global().WorkBitmap.ScanLine(0)[0] ^= 0xFF;
  form_->MainMenu_F_ReOpen->trigger();
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, MakePatternBitmap(10, 10)));
  EXPECT_EQ(form_->Global().GetRatio(), 1);
  EXPECT_EQ(form_->windowTitle(), TMainForm::CaptionFor(path));
}

TEST_F(MainFormTest, AFailedReopenLeavesPictureRatioAndSelection) {
  const QString path = WritePicture(QStringLiteral("gone.png"), 10, 8);
  form_->LoadPicture(path);
  form_->Global().SetRatio(4);
  form_->TB_SelMax->click();
  form_->Global().WorkBitmap.ScanLine(0)[0] ^= 0xFF;
  const kavun::Bitmap changed = form_->Global().WorkBitmap;
  ASSERT_TRUE(QFile::remove(path));
  form_->TB_Load->click();
  ASSERT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_TRUE(dialogs_.errors[0].text.contains(QStringLiteral("gone.png")));
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, changed));
  EXPECT_EQ(form_->Global().GetRatio(), 4);
  EXPECT_TRUE(form_->Selection().Visible());
  EXPECT_TRUE(form_->ExecuteButton->isEnabled());
  EXPECT_EQ(form_->MainPBox->size(), QSize(40, 32));

  // The file back with another size: the view follows it, the selection is gone.
  WritePicture(QStringLiteral("gone.png"), 7, 5);
  form_->TB_Load->click();
  EXPECT_EQ(form_->MainPBox->size(), QSize(7, 5));
  EXPECT_FALSE(form_->Selection().Visible());
  EXPECT_FALSE(form_->ExecuteButton->isEnabled());
}

// Overwrite-save: which single question is asked for each extension and pair of switches.
struct OverwriteCase {
  const char* name;
  bool overwriteSwitch;
  bool jpegSwitch;
  const char* expectedQuestion;  // nullptr: none
};

class OverwriteSaveTest : public MainFormTest,
                          public ::testing::WithParamInterface<OverwriteCase> {};

TEST_P(OverwriteSaveTest, AsksAtMostOneQuestion) {
  const OverwriteCase& c = GetParam();
  const QString path = WritePicture(QString::fromLatin1(c.name), 6, 5);
  form_->LoadPicture(path);
  form_->MainMenu_S_SavChkDlg->setChecked(c.overwriteSwitch);
  form_->MainMenu_S_JpgSavChkDlg->setChecked(c.jpegSwitch);
  // Answer No first: nothing is written.
  QFile::remove(path);
  dialogs_.answers = {false};
  form_->MainMenu_F_Save->trigger();
  if (c.expectedQuestion != nullptr) {
    ASSERT_EQ(dialogs_.questions.size(), 1u);
    EXPECT_EQ(dialogs_.questions[0].text, QString::fromUtf8(c.expectedQuestion));
    EXPECT_EQ(dialogs_.questions[0].caption, QStringLiteral("確認"));
    EXPECT_FALSE(QFile::exists(path));
    dialogs_.answers = {true};
    form_->TB_Save->click();
    EXPECT_EQ(dialogs_.questions.size(), 2u);
  } else {
    EXPECT_TRUE(dialogs_.questions.empty());
    dialogs_.answers.clear();
  }
  ASSERT_TRUE(QFile::exists(path));
  // Written in the format its extension names, whatever its letter case.
  const kavun::Bitmap back = kavun::LoadImageFile(path.toStdString());
  EXPECT_EQ(back.Width(), 6);
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray head = file.read(4);
  const QString ext = QString::fromLatin1(c.name).section(u'.', -1).toLower();
  if (ext == QLatin1String("png")) {
    EXPECT_EQ(head.mid(1, 3), QByteArray("PNG"));
  }
  if (ext == QLatin1String("bmp")) {
    EXPECT_EQ(head.left(2), QByteArray("BM"));
  }
  if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg")) {
    EXPECT_EQ(static_cast<uint8_t>(head[0]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(head[1]), 0xD8);
  }
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_EQ(form_->Global().FileName, path);
}

const char kJpegQ[] =
    "JPG保存してもよろしいですか？\r\nマスキングされている場合、復元できない場合があります";
const char kOverwriteQ[] = "上書きしてもよろしいですか？";

INSTANTIATE_TEST_SUITE_P(Switches, OverwriteSaveTest,
                         ::testing::Values(OverwriteCase{"a.jpeg", true, true, kJpegQ},
                                           OverwriteCase{"b.jpeg", true, false, kOverwriteQ},
                                           OverwriteCase{"c.jpeg", false, false, nullptr},
                                           OverwriteCase{"d.jpg", false, true, kJpegQ},
                                           OverwriteCase{"e.JPEG", true, true, kJpegQ},
                                           OverwriteCase{"f.JPG", false, true, kJpegQ},
                                           OverwriteCase{"g.png", true, true, kOverwriteQ},
                                           OverwriteCase{"h.png", false, true, nullptr},
                                           OverwriteCase{"i.PNG", true, true, kOverwriteQ},
                                           OverwriteCase{"j.bmp", true, false, kOverwriteQ},
                                           OverwriteCase{"k.BMP", false, false, nullptr}),
                         [](const ::testing::TestParamInfo<OverwriteCase>& test) {
                           std::string name;
                           for (const char* c = test.param.name; *c != '\0'; ++c) {
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           }
                           return name;
                         });

TEST_F(MainFormTest, SaveAsForcesTheFilterExtensionAndReadsTheFileBack) {
  form_->LoadPicture(WritePicture(QStringLiteral("src.bmp"), 7, 5));
  dialogs_.saveName = TempPath(QStringLiteral("photo.jpg"));
  dialogs_.saveFilterIndex = 1;  // PNG
  form_->MainMenu_F_SaveAs->trigger();
  const QString target = TempPath(QStringLiteral("photo.png"));
  EXPECT_TRUE(dialogs_.questions.empty());
  EXPECT_TRUE(QFile::exists(target));
  EXPECT_FALSE(QFile::exists(TempPath(QStringLiteral("photo.jpg"))));
  EXPECT_EQ(form_->Global().FileName, target);
  EXPECT_EQ(form_->windowTitle(), TMainForm::CaptionFor(target));
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, MakePatternBitmap(7, 5)));

  // Again onto the existing file: the exists question, answered No, writes nothing.
  QFile::remove(TempPath(QStringLiteral("src.bmp")));
  form_->LoadPicture(WritePicture(QStringLiteral("other.bmp"), 3, 3));
  dialogs_.answers = {false};
  form_->TB_SaveNew->click();
  ASSERT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_EQ(dialogs_.questions[0].text,
            u'"' + target + QStringLiteral("\"は既に存在します。\r\n上書きしますか？"));
  EXPECT_EQ(kavun::LoadImageFile(target.toStdString()).Width(), 7);
  EXPECT_EQ(form_->Global().FileName, TempPath(QStringLiteral("other.bmp")));
}

TEST_F(MainFormTest, SaveAsJpegAsksTheJpegThenTheExistsQuestion) {
  form_->LoadPicture(WritePicture(QStringLiteral("s.png"), 9, 9));
  WritePicture(QStringLiteral("out.jpg"), 2, 2);
  dialogs_.saveName = TempPath(QStringLiteral("out"));  // no extension: appended
  dialogs_.saveFilterIndex = 2;
  const QString target = TempPath(QStringLiteral("out.jpg"));
  for (const bool secondAnswer : {false, true}) {
    dialogs_.questions.clear();
    dialogs_.answers = {true, secondAnswer};
    form_->MainMenu_F_SaveAs->trigger();
    ASSERT_EQ(dialogs_.questions.size(), 2u);
    EXPECT_EQ(dialogs_.questions[0].text, QString::fromUtf8(kJpegQ));
    EXPECT_TRUE(dialogs_.questions[1].text.startsWith(u'"' + target + u'"'));
    EXPECT_EQ(kavun::LoadImageFile(target.toStdString()).Width(), secondAnswer ? 9 : 2);
  }
  EXPECT_EQ(form_->Global().FileName, target);

  // The JPEG question answered No stops before the exists question.
  dialogs_.questions.clear();
  dialogs_.answers = {false};
  form_->MainMenu_F_SaveAs->trigger();
  EXPECT_EQ(dialogs_.questions.size(), 1u);

  // The BMP filter never asks the JPEG question.
  dialogs_.questions.clear();
  dialogs_.saveName = TempPath(QStringLiteral("fresh.jpg"));
  dialogs_.saveFilterIndex = 3;
  form_->MainMenu_F_SaveAs->trigger();
  EXPECT_TRUE(dialogs_.questions.empty());
  EXPECT_EQ(form_->Global().FileName, TempPath(QStringLiteral("fresh.bmp")));
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(MainFormTest, AFailedSaveKeepsTheFileNameAndTheOldFile) {
  const QString path = WritePicture(QStringLiteral("keep.png"), 4, 4);
  form_->LoadPicture(path);
  dialogs_.saveName = TempPath(QStringLiteral("no/such/folder/x.png"));
  form_->MainMenu_F_SaveAs->trigger();
  EXPECT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_EQ(form_->Global().FileName, path);
  EXPECT_EQ(form_->windowTitle(), TMainForm::CaptionFor(path));

  // A folder named like the target is refused before any question is asked.
  QDir().mkpath(TempPath(QStringLiteral("taken.jpg")));
  dialogs_.saveName = TempPath(QStringLiteral("taken"));
  dialogs_.saveFilterIndex = 2;
  dialogs_.questions.clear();
  dialogs_.errors.clear();
  form_->MainMenu_F_SaveAs->trigger();
  EXPECT_TRUE(dialogs_.questions.empty());
  ASSERT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_TRUE(QFileInfo(TempPath(QStringLiteral("taken.jpg"))).isDir());
  EXPECT_EQ(form_->Global().FileName, path);
}

TEST(ErrorBoxTest, AppendsAPeriodAfterCharactersAboveIt) {
  const std::pair<const char*, const char*> rows[] = {{"Cannot open file", "Cannot open file."},
                                                      {"Done.", "Done."},
                                                      {"Why?", "Why?."},   // '?' is above '.'
                                                      {"Oops!", "Oops!"},  // '!' is below '.'
                                                      {"a-", "a-"},
                                                      {"x/", "x/."},
                                                      {"画像を読めません", "画像を読めません."},
                                                      {"", ""}};
  for (const auto& [in, out] : rows) {
    EXPECT_EQ(ErrorBoxText(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
  }
}

TEST(ErrorBoxTest, TitleIsTheExecutableNameUpToItsFirstDot) {
  EXPECT_EQ(ApplicationTitleFor(QStringLiteral("/usr/bin/kavun")), QStringLiteral("kavun"));
  EXPECT_EQ(ApplicationTitleFor(QStringLiteral("C:/x/KAVUN.EXE")), QStringLiteral("Kavun"));
  EXPECT_EQ(ApplicationTitleFor(QStringLiteral("/a.b/My.tool.bin")), QStringLiteral("My"));
  EXPECT_EQ(ApplicationTitleFor(QStringLiteral("kAvUn")), QStringLiteral("kavun"));
}

TEST(ImageViewTest, SourceRectCoversTheExposedArea) {
  EXPECT_EQ(SourceRectFor(QRect(0, 0, 30, 30), 3, 100, 100), QRect(0, 0, 10, 10));
  EXPECT_EQ(SourceRectFor(QRect(4, 5, 3, 1), 3, 100, 100), QRect(1, 1, 2, 1));
  EXPECT_EQ(SourceRectFor(QRect(25, 0, 100, 10), 10, 5, 5), QRect(2, 0, 3, 1));
  EXPECT_TRUE(SourceRectFor(QRect(60, 0, 10, 10), 10, 5, 5).isEmpty());
  EXPECT_EQ(SourceRectFor(QRect(7, 7, 1, 1), 1, 10, 10), QRect(7, 7, 1, 1));
}

TEST_F(MainFormTest, TheViewShowsEveryPixelAsARatioSquare) {
  form_->LoadPicture(WritePicture(QStringLiteral("v.png"), 6, 4));
  form_->Global().SetRatio(3);
  const QImage shot = form_->MainPBox->grab().toImage();
  ASSERT_EQ(shot.size(), QSize(18, 12));
  const kavun::Bitmap& b = form_->Global().WorkBitmap;
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 18; ++x) {
      const kavun::PaletteEntry c = b.PixelColor(x / 3, y / 3);
      ASSERT_EQ(shot.pixel(x, y), qRgb(c.Red, c.Green, c.Blue)) << x << "," << y;
    }
  }
}

TEST_F(MainFormTest, AWidePictureAtTenfoldPaintsItsFarCorner) {
  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  form_->LoadPicture(WritePicture(QStringLiteral("wide.bmp"), 6000, 40));
  form_->MainMenu_PR_Items[9]->trigger();
  EXPECT_EQ(form_->MainPBox->size(), QSize(60000, 400));
  form_->TB_SelMax->click();
  EXPECT_EQ(form_->Selection().SelectionImageRect(), (kavun::TRect{0, 0, 6000, 40}));
  QScrollBar* h = form_->ImgBaseScrollBox->horizontalScrollBar();
  QScrollBar* v = form_->ImgBaseScrollBox->verticalScrollBar();
  h->setValue(h->maximum());
  v->setValue(v->maximum());
  QApplication::processEvents();
  // The bottom-right image pixel, away from the inverted outline and handles.
  const QPoint inView(60000 - 15, 400 - 15);
  const QPoint inViewport = form_->MainPBox->mapTo(form_->ImgBaseScrollBox->viewport(), inView);
  ASSERT_TRUE(form_->ImgBaseScrollBox->viewport()->rect().contains(inViewport));
  const QImage shot = form_->ImgBaseScrollBox->viewport()->grab().toImage();
  const kavun::PaletteEntry c = form_->Global().WorkBitmap.PixelColor(5998, 38);
  EXPECT_EQ(shot.pixel(inViewport), qRgb(c.Red, c.Green, c.Blue));
  // Back to the top-left corner on the next ratio change.
  form_->TB_RatioMinus->click();
  EXPECT_EQ(h->value(), 0);
  EXPECT_EQ(v->value(), 0);
}

TEST(ImageViewTest, OtherDepthsShowTheirDisplayedColours) {
  kavun::Bitmap gray(3, 2, kavun::PixelFormat::Bits8);
  std::vector<kavun::PaletteEntry> palette(256);
  for (int i = 0; i < 256; ++i) {
    palette[static_cast<std::size_t>(i)] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i),
                                            static_cast<uint8_t>(i)};
  }
  gray.SetPalette(palette);
  gray.ScanLine(1)[2] = 200;
  const QImage image = DisplayImageFor(gray);
  EXPECT_EQ(image.pixel(2, 1), qRgb(200, 200, 200));
  EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
  const kavun::Bitmap color = MakePatternBitmap(5, 3);
  const QImage wrapped = DisplayImageFor(color);
  EXPECT_EQ(wrapped.constBits(), color.Bits().data());  // no copy
  const kavun::PaletteEntry c = color.PixelColor(4, 2);
  EXPECT_EQ(wrapped.pixel(4, 2), qRgb(c.Red, c.Green, c.Blue));
}

}  // namespace
