// 範囲を自動検出: the window selects the scrambled rectangle, and the inverse Execute on it
// restores the picture.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "app/main_form.h"
#include "app_test_support.h"
#include "engine/transform_params.h"
#include "imagefile/imagefile.h"

namespace {

// A smooth picture, every pixel close to its neighbours.
kavun::Bitmap SmoothBitmap(int width, int height) {
  kavun::Bitmap b(width, height, kavun::PixelFormat::Bits24);
  for (int y = 0; y < height; ++y) {
    auto row = b.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<uint8_t>(30 + x);
      row[3 * x + 1] = static_cast<uint8_t>(80 + y);
      row[3 * x + 2] = static_cast<uint8_t>(150 + (x - y) / 3);
    }
  }
  return b;
}

QString StatusText(TMainForm* form, int panel) {
  return form->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(panel))->text();
}

TEST_F(MainFormTest, DetectSelectsTheScrambledRectangleAndTheInverseExecuteRestoresIt) {
  const kavun::TRect rect{23, 17, 71, 52};
  struct Case {
    const char* name;
    kavun::TransformRequest scramble;
    std::function<void(TMainForm*)> chooseInverse;
  };
  kavun::TransformRequest xorMd5;
  xorMd5.Kind = kavun::TransformKind::Xor;
  xorMd5.Mode = kavun::XorKeyMode::MD5;
  xorMd5.Password = "open sesame";
  kavun::TransformRequest shift;
  shift.Kind = kavun::TransformKind::BitShift;
  shift.Shift = 5;  // right; restored by rotating left
  const Case cases[] = {
      {"xor", xorMd5,
       [](TMainForm* f) {
         QTest::mouseClick(f->RadioButton_ProcSelXOR, Qt::LeftButton);
         QTest::mouseClick(f->RadioButton_ProcXorFuncMD5, Qt::LeftButton);
         f->Edit_ProcXorKey->setText(QStringLiteral("open sesame"));
       }},
      {"shift", shift,
       [](TMainForm* f) {
         QTest::mouseClick(f->RadioButton_ProcSelBS, Qt::LeftButton);
         QTest::mouseClick(f->RadioButton_ProcBitShiftL, Qt::LeftButton);
         f->Edit_ProcBitShiftLen->setText(QStringLiteral("5"));
       }},
  };
  const kavun::Bitmap original = SmoothBitmap(100, 80);
  for (const Case& c : cases) {
    kavun::Bitmap scrambled = original;
    kavun::ApplyTransform(scrambled, rect, c.scramble);
    const QString path = TempPath(QStringLiteral("scrambled-%1.png").arg(c.name));
    kavun::SaveImageFile(path.toStdString(), ".png", scrambled);
    form_->LoadPicture(path);
    ASSERT_TRUE(form_->TB_SelDetect->isEnabled()) << c.name;

    form_->TB_SelDetect->click();
    EXPECT_TRUE(form_->Selection().Visible()) << c.name;
    EXPECT_EQ(form_->Selection().SelectionImageRect(), rect) << c.name;
    EXPECT_TRUE(form_->isEnabled());
    EXPECT_TRUE(form_->ExecuteButton->isEnabled()) << c.name;

    c.chooseInverse(form_.get());
    form_->ExecuteButton->click();
    EXPECT_TRUE(SamePixels(form_->Global().WorkBitmap, original)) << c.name;
  }
}

TEST_F(MainFormTest, DetectOnACleanPictureSaysSoAndKeepsTheSelection) {
  const QString path = TempPath(QStringLiteral("clean.png"));
  kavun::SaveImageFile(path.toStdString(), ".png", SmoothBitmap(60, 50));
  form_->LoadPicture(path);
  const kavun::TRect chosen{5, 6, 20, 30};
  form_->SelectImageRect(chosen);

  form_->TB_SelDetect->click();
  EXPECT_TRUE(form_->Selection().Visible());
  EXPECT_EQ(form_->Selection().SelectionImageRect(), chosen);
  EXPECT_TRUE(StatusText(form_.get(), 1).contains(QStringLiteral("見つかりませんでした")))
      << StatusText(form_.get(), 1).toStdString();
  EXPECT_TRUE(form_->isEnabled());
  // Its hint names its shortcut, and no other button has the same one.
  EXPECT_EQ(form_->TB_SelDetect->toolTip(), QStringLiteral("範囲を自動検出 (Ctrl+F)"));
}

}  // namespace
