// The Qt side of the dialogs: filter texts and message boxes that stay usable.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include "app/user_dialogs.h"

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

}  // namespace
