// The file commands: open, reopen, save and save as, and what the window shows when one fails.
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

TEST_F(ViewNavigationTest, SaveAsStartsAtThePicture) {
  Open(20, 10, 1);
  dialogs_.saveName.reset();  // cancelled
  form_->MainMenu_F_SaveAs->trigger();
  ASSERT_EQ(dialogs_.saveStartedAt.size(), 1u);
  EXPECT_EQ(dialogs_.saveStartedAt[0], form_->Global().FileName);
}

}  // namespace
