// The dialog of 選択範囲を数値で指定.
#include <QFontMetrics>
#include <QLabel>

#include <gtest/gtest.h>

#include "app/sel_num_form.h"

namespace {

TEST(SelNumFormTest, ShowsThePictureSizeAndItsWholeTitle) {
  TSelNumForm form;
  form.SetPictureSize(7680, 4320);
  EXPECT_FALSE(form.PictureSizeLabel->isHidden());
  EXPECT_EQ(form.PictureSizeLabel->text(), QStringLiteral("画像の大きさ: 7680 × 4320"));
  EXPECT_GT(form.minimumWidth(), QFontMetrics(form.font()).horizontalAdvance(form.windowTitle()));
}

}  // namespace
