// The Qt side of the dialogs: filter texts and message boxes that stay usable.
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include "app/picture_preview.h"
#include "app/user_dialogs.h"
#include "engine/bitmap.h"
#include "imagefile/imagefile.h"

namespace {

TEST(QtDialogsTest, FiltersKeepTheirWordingAndTakeTheirPatterns) {
  EXPECT_EQ(ToQtNameFilters(QString::fromUtf8(kOpenPictureFilter)),
            (QStringList{"対応形式(*.png, *.jpg, *.jpeg, *.bmp) (*.png *.jpg *.jpeg *.bmp)",
                         "PNG(*.png) (*.png)", "JPEG(*.jpg, *.jpeg) (*.jpg *.jpeg)",
                         "Bitmap(*.bmp) (*.bmp)"}));
  EXPECT_EQ(ToQtNameFilters(QString::fromUtf8(kSavePictureFilter)),
            (QStringList{"PNG(*.png) (*.png)", "JPEG(*.jpg) (*.jpg)", "Bitmap(*.bmp) (*.bmp)"}));
}

TEST(QtDialogsTest, AQuestionFromADisabledWindowCanBeAnswered) {
  QWidget owner;
  owner.show();
  owner.setEnabled(false);
  TQtUserDialogs dialogs(&owner);
  bool enabled = false;
  QString shown;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    enabled = box->isEnabled();
    shown = box->text();
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_TRUE(dialogs.AskYesNo(QStringLiteral("a\r\nb"), QStringLiteral("確認")));
  EXPECT_TRUE(enabled);
  EXPECT_EQ(shown, QStringLiteral("a\nb"));
}

TEST(QtDialogsTest, TheSaveDialogReportsAndRemembersTheChosenFilter) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QWidget owner;
  TQtUserDialogs dialogs(&owner);
  const QStringList filters = ToQtNameFilters(QString::fromUtf8(kSavePictureFilter));
  const QString name = dir.filePath(QStringLiteral("photo.png"));
  // Each run picks a filter (0-based) and accepts; the next run starts on the one picked before.
  qsizetype previous = 0;
  for (int pick : {1, 2, 0}) {
    qsizetype preselected = -1;
    QTimer::singleShot(0, [&, pick] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      preselected = NameFilterIndex(filters, dialog->selectedNameFilter());
      dialog->selectNameFilter(filters.at(pick));
      dialog->selectFile(name);
      static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
    });
    int filterIndex = -1;
    const std::optional<QString> chosen = dialogs.GetSaveFileName(&filterIndex);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(filterIndex, pick + 1);
    EXPECT_EQ(preselected, previous);
    previous = pick;
  }
}

// The open dialog's preview shows the file under the cursor without blocking the dialog: a
// picture with its size and depth, a damaged file as a line saying so, a folder as nothing.
TEST(QtDialogsTest, TheOpenDialogPreviewsTheFileUnderTheCursor) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString picture = dir.filePath(QStringLiteral("wide.png"));
  kavun::SaveImageFile(picture.toStdString(), ".png",
                       kavun::Bitmap(600, 100, kavun::PixelFormat::Bits24));
  const QString damaged = dir.filePath(QStringLiteral("damaged.png"));
  {
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG\r\n\x1a\n broken");
  }
  struct Case {
    QString path;
    QString info;     // what the line under the picture starts with
    QSize thumbnail;  // empty: no picture shown
  };
  const Case cases[] = {
      {picture, QStringLiteral("600 × 100 ピクセル  24 ビット"), QSize(200, 33)},
      {damaged, QStringLiteral("プレビューできません。"), QSize()},
      {dir.path(), QString(), QSize()},
  };
  QWidget owner;
  TQtUserDialogs dialogs(&owner);
  std::vector<std::pair<QString, QSize>> seen;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* preview = dialog->findChild<TPicturePreview*>();
    ASSERT_NE(preview, nullptr);
    for (const Case& c : cases) {
      emit dialog->currentChanged(c.path);
      QTRY_VERIFY(!preview->IsBusy());
      seen.emplace_back(preview->InfoText(), preview->Thumbnail().size());
    }
    dialog->reject();
  });
  EXPECT_FALSE(dialogs.GetOpenFileName().has_value());
  ASSERT_EQ(seen.size(), std::size(cases));
  for (size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(cases[i].path.toStdString());
    EXPECT_TRUE(seen[i].first.startsWith(cases[i].info)) << seen[i].first.toStdString();
    if (cases[i].info.isEmpty()) {
      EXPECT_TRUE(seen[i].first.isEmpty());
    }
    EXPECT_EQ(seen[i].second, cases[i].thumbnail.isEmpty() ? QSize(0, 0) : cases[i].thumbnail);
  }
}

}  // namespace
