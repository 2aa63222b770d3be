// Start-up and end of the main window: settings, dropped files, the About box.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWindow>

#include <gtest/gtest.h>

#include "app/about_form.h"
#include "app/error_box.h"
#include "app_test_support.h"
#include "common/process_support.h"

#include <csignal>

namespace {

TEST_F(MainFormTest, FirstStartCreatesAnEmptyFileAndExitWritesTheDefaults) {
  const QString ini = TempPath(QStringLiteral("kavun.ini"));
  EXPECT_TRUE(QFile::exists(ini));
  EXPECT_TRUE(ReadAll(ini).isEmpty());
  EXPECT_TRUE(form_->MainMenu_S_NoTrack->isChecked());
  EXPECT_TRUE(form_->MainMenu_S_SavChkDlg->isChecked());
  EXPECT_TRUE(form_->MainMenu_S_JpgSavChkDlg->isChecked());
  form_.reset();
  EXPECT_EQ(ReadAll(ini),
            QByteArray("[Setup]\r\nisScrollTrack=0\r\nisShowSaveChkDlg=1\r\n"
                       "isShowJpgSaveChkDlg=1\r\nFormWidth=594\r\nFormHeight=477\r\n\r\n"));
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(MainFormTest, SettingsReadButNotWritableAreStillApplied) {
  // A file-size limit below the file's size: readable, never writable (as on a full disk).
  const QString ini = TempPath(QStringLiteral("limited.ini"));
  QFile file(ini);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Setup]\r\nisShowSaveChkDlg=0\r\nFormWidth=700\r\n");
  file.close();
  const kavun::test::FileSizeLimit limit(16);
  TFakeDialogs dialogs;
  TMainFormOptions options;
  options.Dialogs = &dialogs;
  options.SettingsPath = ini;
  auto form = std::make_unique<TMainForm>(options);
  ASSERT_EQ(dialogs.errors.size(), 1u);  // the failed write-back at start
  EXPECT_FALSE(form->MainMenu_S_SavChkDlg->isChecked());
  EXPECT_EQ(form->width(), 700);
  EXPECT_TRUE(form->MainMenu_F_Open->isEnabled());
  form.reset();
  EXPECT_EQ(dialogs.errors.size(), 2u);  // and at exit
  EXPECT_EQ(ReadAll(ini), QByteArray("[Setup]\r\nisShowSaveChkDlg=0\r\nFormWidth=700\r\n"));
}

TEST_F(MainFormTest, StoredSettingsAreApplied) {
  RecreateForm(
      QByteArray("[setup]\r\nisScrollTrack=1\r\nisShowSaveChkDlg=0\r\n"
                 "FORMWIDTH=0x320\r\n[Other]\r\nkeep=me\r\n"));
  EXPECT_TRUE(form_->MainMenu_S_Track->isChecked());
  EXPECT_FALSE(form_->MainMenu_S_NoTrack->isChecked());
  EXPECT_TRUE(form_->ImgBaseScrollBox->horizontalScrollBar()->hasTracking());
  EXPECT_TRUE(form_->ImgBaseScrollBox->verticalScrollBar()->hasTracking());
  EXPECT_FALSE(form_->MainMenu_S_SavChkDlg->isChecked());
  EXPECT_TRUE(form_->MainMenu_S_JpgSavChkDlg->isChecked());
  EXPECT_EQ(form_->width(), 800);
  EXPECT_EQ(form_->height(), 477);

  // The overwrite switch off: overwrite-save of a PNG asks nothing.
  const QString path = WritePicture(QStringLiteral("quiet.png"), 5, 5);
  form_->LoadPicture(path);
  QFile::remove(path);
  form_->MainMenu_F_Save->trigger();
  EXPECT_TRUE(dialogs_.questions.empty());
  EXPECT_TRUE(QFile::exists(path));

  form_->MainMenu_S_JpgSavChkDlg->trigger();  // toggles its own mark only
  EXPECT_FALSE(form_->MainMenu_S_JpgSavChkDlg->isChecked());
  EXPECT_FALSE(form_->MainMenu_S_SavChkDlg->isChecked());
  form_.reset();
  const QByteArray written = ReadAll(TempPath(QStringLiteral("kavun.ini")));
  EXPECT_TRUE(written.contains("isScrollTrack=1\r\n"));
  EXPECT_TRUE(written.contains("isShowJpgSaveChkDlg=0\r\n"));
  EXPECT_TRUE(written.contains("FORMWIDTH=800\r\n"));
  EXPECT_TRUE(written.contains("[Other]\r\nkeep=me\r\n"));
}

TEST_F(MainFormTest, AStoredSizeBeyondTheDesktopIsHeldToIt) {
  RecreateForm(QByteArray("[Setup]\r\nFormWidth=2147483647\r\nFormHeight=100000\r\n"));
  const QSize desktop = QGuiApplication::primaryScreen()->virtualGeometry().size();
  EXPECT_EQ(form_->size(), desktop);
  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  EXPECT_FALSE(form_->grab().isNull());
}

TEST_F(MainFormTest, AnUnwritableSettingsFileStillGivesAUsableWindow) {
  form_.reset();
  TMainFormOptions options;
  options.Dialogs = &dialogs_;
  // A file where the folder should be: nothing can be read or written there.
  QFile blocker(TempPath(QStringLiteral("blocker")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  options.SettingsPath = TempPath(QStringLiteral("blocker/kavun.ini"));
  form_ = std::make_unique<TMainForm>(options);
  EXPECT_TRUE(form_->MainMenu_S_SavChkDlg->isChecked());
  EXPECT_TRUE(form_->MainMenu_F_Open->isEnabled());
  EXPECT_EQ(form_->size(), QSize(594, 477));
  EXPECT_EQ(dialogs_.errors.size(), 1u);  // the file layer's error, once
}

// A drop as the window system delivers it onto the shown window.
void Drop(TMainForm* form, const QList<QUrl>& urls) {
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  QMimeData data;
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form, &enter);
  ASSERT_TRUE(enter.isAccepted());
  // Straight to the window's event handler: QApplication delivers a drop only to the target of
  // a drag that its own drag manager runs.
  QDropEvent drop(QPointF(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  static_cast<QObject*>(form)->event(&drop);
  EXPECT_TRUE(drop.isAccepted());
}

TEST_F(MainFormTest, ADropOpensTheFirstFileOnly) {
  const QString first = WritePicture(QStringLiteral("first.png"), 11, 7);
  const QString second = WritePicture(QStringLiteral("second.png"), 3, 3);
  const QString third = WritePicture(QStringLiteral("third.bmp"), 4, 4);
  Drop(form_.get(),
       {QUrl::fromLocalFile(first), QUrl::fromLocalFile(second), QUrl::fromLocalFile(third)});
  EXPECT_EQ(form_->Global().FileName, first);
  EXPECT_EQ(form_->windowTitle(), TMainForm::CaptionFor(first));
  EXPECT_EQ(form_->Global().WorkBitmap.Width(), 11);
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(MainFormTest, TextFieldsLeaveDropsToTheWindow) {
  for (QLineEdit* edit : form_->findChildren<QLineEdit*>()) {
    EXPECT_FALSE(edit->acceptDrops()) << edit->objectName().toStdString();
  }
  EXPECT_EQ(form_->findChildren<QLineEdit*>().size(), 6);
}

TEST_F(MainFormTest, ADropWithALongPathOpensIt) {
  QString folder = dir_.path();
  for (int i = 0; i < 6; ++i) {
    folder += QStringLiteral("/a_rather_long_folder_name_to_pass_255_characters_%1").arg(i);
  }
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString path = folder + QStringLiteral("/picture.png");
  ASSERT_GT(path.size(), 300);
  QFile::copy(WritePicture(QStringLiteral("p.png"), 6, 6), path);
  Drop(form_.get(), {QUrl::fromLocalFile(path)});
  EXPECT_EQ(form_->Global().FileName, path);
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(MainFormTest, AnUnreadableDropShowsTheErrorBoxAndKeepsTheDocument) {
  const QString good = WritePicture(QStringLiteral("good.png"), 8, 8);
  form_->LoadPicture(good);
  QFile junk(TempPath(QStringLiteral("junk.png")));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("not a picture");
  junk.close();
  Drop(form_.get(), {QUrl::fromLocalFile(junk.fileName())});
  ASSERT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_EQ(dialogs_.errors[0].caption, ApplicationTitle());
  EXPECT_EQ(form_->Global().FileName, good);
  EXPECT_EQ(form_->windowTitle(), TMainForm::CaptionFor(good));
  EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, MakePatternBitmap(8, 8)));
}

TEST_F(MainFormTest, TheAboutBoxDisablesTheWindowUntilItCloses) {
  TAboutForm about;
  form_->SetAboutForm(&about);
  form_->show();
  form_->MainMenu_H_About->trigger();
  EXPECT_FALSE(form_->isEnabled());
  EXPECT_TRUE(about.isVisible());
  EXPECT_TRUE(about.isEnabled());
  // Stacked above the main window, which cannot be used until the box closes.
  ASSERT_NE(about.windowHandle(), nullptr);
  EXPECT_EQ(about.windowHandle()->transientParent(), form_->windowHandle());
  // The title bar's close button of the disabled window does nothing.
  EXPECT_FALSE(form_->close());
  EXPECT_TRUE(form_->isVisible());
  about.CloseButtonClick();
  EXPECT_FALSE(about.isVisible());
  EXPECT_TRUE(form_->isEnabled());
  form_->MainMenu_H_About->trigger();  // the same box again
  EXPECT_TRUE(about.isVisible());
  QTest::keyClick(&about, Qt::Key_Escape);  // Esc closes it like "Close"
  EXPECT_FALSE(about.isVisible());
  EXPECT_TRUE(form_->isEnabled());
}

}  // namespace
