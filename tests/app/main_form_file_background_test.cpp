// Opening beside the event loop: the window goes on painting, Esc stops a read and leaves the
// document; what a file loses is told and asked; names Qt cannot decode open and save in place.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/busy_scope.h"
#include "app/image_view.h"
#include "app_test_support.h"
#include "imagefile/imagefile.h"

namespace {

// Counts the paint events a widget receives.
class TPaintCounter : public QObject {
 public:
  explicit TPaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

class SlowOpenTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    // A window whose decoder stops at its first row while `hold` is set, until `release`.
    form_.reset();
    TMainFormOptions options;
    options.Dialogs = &dialogs_;
    options.SettingsPath = dir_.filePath(QStringLiteral("kavun.ini"));
    options.DecodeRowHook = [this] {
      if (!hold.load()) return;
      hold = false;
      held = true;
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!release.load() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    };
    form_ = std::make_unique<TMainForm>(options);
  }

  std::atomic<bool> hold{false};
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
};

// While the decode waits, the window paints and shows the progress; Esc stops the open and the
// document is the one before, changes included.
TEST_F(SlowOpenTest, EscStopsAnOpenAndTheWindowPaintsMeanwhile) {
  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  const QString first = WritePicture(QStringLiteral("first.png"), 12, 9);
  form_->LoadPicture(first);
  form_->Global().SetRatio(3);
  form_->Global().WorkBitmap.ScanLine(0)[0] ^= 0xFF;
  const kavun::Bitmap changed = form_->Global().WorkBitmap;
  const QString second = WritePicture(QStringLiteral("second.bmp"), 30, 200);

  TPaintCounter paints(form_->MainPBox);
  QString status;
  bool paintedWhileHeld = false;
  hold = true;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!held || release) return;
    if (status.isEmpty()) {
      status = form_->MainStatusBar->currentMessage();
      paints.paints = 0;
      form_->MainPBox->update();
      return;  // the repaint comes on a later turn of the loop
    }
    paintedWhileHeld = paints.paints > 0;
    QTest::keyClick(form_->MainPBox, Qt::Key_Escape);
    release = true;
  });
  poll.start(5);
  form_->LoadPicture(second);  // returns once stopped
  poll.stop();

  EXPECT_TRUE(release.load());
  EXPECT_TRUE(paintedWhileHeld);
  EXPECT_TRUE(status.contains(QStringLiteral("second.bmp"))) << status.toStdString();
  EXPECT_TRUE(status.contains(QStringLiteral("Esc"))) << status.toStdString();
  EXPECT_TRUE(form_->MainStatusBar->currentMessage().isEmpty());
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, changed));
  EXPECT_EQ(form_->Global().FileName, first);
  EXPECT_EQ(form_->windowTitle(), TMainForm::CaptionFor(first));
  EXPECT_EQ(form_->Global().GetRatio(), 3);
  EXPECT_FALSE(TBusyScope::IsBusy());

  // Reopen stopped the same way keeps the changes too; not stopped, it reads the file.
  hold = true;
  release = false;
  held = false;
  status.clear();
  poll.start(5);
  form_->TB_Load->click();
  poll.stop();
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, changed));
  form_->TB_Load->click();
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, MakePatternBitmap(12, 9)));
}

// A file with transparency or 16-bit samples: the status bar says what the picture does not
// keep, and overwrite-save asks before it is lost, whatever the switches.
struct LossCase {
  const char* name;
  QImage::Format format;
  bool transparent;
  const char* told;
};

class LossTest : public MainFormTest, public ::testing::WithParamInterface<LossCase> {};

TEST_P(LossTest, TellsAtOpenAndAsksBeforeSavingOver) {
  const LossCase& c = GetParam();
  QImage image(8, 6, c.format);
  image.fill(c.transparent ? QColor(10, 200, 30, 100) : QColor(10, 200, 30));
  const QString path = TempPath(QString::fromLatin1(c.name));
  ASSERT_TRUE(image.save(path));
  const QByteArray before = [&] {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  for (const bool overwriteSwitch : {true, false}) {
    SCOPED_TRACE(overwriteSwitch);
    dialogs_.questions.clear();
    form_->LoadPicture(path);
    const QString told = form_->StatusPanels[1]->text();
    EXPECT_TRUE(told.contains(QString::fromUtf8(c.told))) << told.toStdString();
    EXPECT_TRUE(told.contains(QStringLiteral("保存すると失われます"))) << told.toStdString();
    form_->MainMenu_S_SavChkDlg->setChecked(overwriteSwitch);
    dialogs_.answers = {false};
    form_->MainMenu_F_Save->trigger();
    ASSERT_EQ(dialogs_.questions.size(), 1u);
    EXPECT_EQ(dialogs_.questions[0].caption, QStringLiteral("確認"));
    EXPECT_EQ(dialogs_.questions[0].text,
              QStringLiteral("上書きしてもよろしいですか？\r\n元のファイルの") +
                  QString::fromUtf8(c.told) + QStringLiteral("は保存されず、失われます"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
  }
  // Yes writes; the file then holds what the picture holds, and the next save asks as usual.
  form_->MainMenu_S_SavChkDlg->setChecked(true);
  dialogs_.answers = {true, true};
  form_->MainMenu_F_Save->trigger();
  form_->MainMenu_F_Save->trigger();
  ASSERT_EQ(dialogs_.questions.size(), 3u);
  EXPECT_EQ(dialogs_.questions[2].text, QStringLiteral("上書きしてもよろしいですか？"));
  EXPECT_TRUE(dialogs_.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, LossTest,
    ::testing::Values(LossCase{"alpha.png", QImage::Format_ARGB32, true, "透明部分"},
                      LossCase{"deep.png", QImage::Format_RGBX64, false, "16ビットの色の精度"},
                      LossCase{"both.png", QImage::Format_RGBA64, true,
                               "透明部分と16ビットの色の精度"}),
    [](const ::testing::TestParamInfo<LossCase>& test) {
      return std::string(test.param.name).substr(0, std::string(test.param.name).find('.'));
    });

TEST_F(MainFormTest, APlainFileIsNeitherToldNorAskedAboutLosses) {
  QImage alpha(4, 4, QImage::Format_ARGB32);
  alpha.fill(Qt::transparent);
  ASSERT_TRUE(alpha.save(TempPath(QStringLiteral("alpha.png"))));
  form_->LoadPicture(TempPath(QStringLiteral("alpha.png")));
  const QString path = WritePicture(QStringLiteral("plain.png"), 5, 5);
  form_->LoadPicture(path);
  EXPECT_FALSE(form_->StatusPanels[1]->text().contains(QStringLiteral("失われます")));
  form_->MainMenu_S_SavChkDlg->setChecked(false);
  form_->MainMenu_F_Save->trigger();
  EXPECT_TRUE(dialogs_.questions.empty());
}

// "テスト.bmp" in Shift_JIS: bytes that are not UTF-8, as old archives unpack on Linux.
TEST_F(MainFormTest, AFileNamedInShiftJisOpensAndSavesInPlace) {
  const std::string bytes = "\x83\x65\x83\x58\x83\x67.bmp";
  const std::filesystem::path folder(QFile::encodeName(dir_.path()).toStdString());
  const std::filesystem::path file = folder / bytes;
  kavun::SaveImageFile(file, ".bmp", MakePatternBitmap(9, 7));
  // Qt cannot remove what it cannot name: the file goes by its bytes at the end.
  struct TRemover {
    std::filesystem::path path;
    ~TRemover() { std::filesystem::remove(path); }
  } remover{file};
  const QString shown = dir_.filePath(QFile::decodeName(QByteArray::fromStdString(bytes)));
  // What makes it hard: Qt's name, encoded again, is another file's.
  ASSERT_NE(QFile::encodeName(shown).toStdString(), file.string());

  // Dropped, as the file manager gives it.
  form_->WMDropFiles({QUrl::fromLocalFile(shown)});
  ASSERT_TRUE(dialogs_.errors.empty()) << dialogs_.errors[0].text.toStdString();
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, MakePatternBitmap(9, 7)));
  EXPECT_EQ(form_->windowTitle(), TMainForm::CaptionFor(shown));

  // Saved over the same file, not beside it under another name.
  form_->Global().WorkBitmap.ScanLine(2)[5] ^= 0xFF;
  const kavun::Bitmap changed = form_->Global().WorkBitmap;
  dialogs_.answers = {true};
  form_->MainMenu_F_Save->trigger();
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_TRUE(SamePixels(kavun::LoadImageFile(file), changed));
  int pictures = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".bmp") ++pictures;
  }
  EXPECT_EQ(pictures, 1);

  // Opened again from the name the dialog gives, and reopened.
  dialogs_.openName = shown;
  form_->MainMenu_F_OpenClick();
  form_->TB_Load->click();
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, changed));
}

}  // namespace
