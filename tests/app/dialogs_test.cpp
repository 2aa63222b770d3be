// The Qt side of the dialogs: filter texts and message boxes that stay usable.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
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

}  // namespace
