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
#include <cmath>
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

// A textured picture whose colour channels move together, as a photograph's do (a mosaic moves
// whole pixels, which the detector tells from XOR noise by the channels changing together).
kavun::Bitmap TexturedBitmap(int width, int height) {
  kavun::Bitmap b(width, height, kavun::PixelFormat::Bits24);
  for (int y = 0; y < height; ++y) {
    auto row = b.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const double v = 110 +
                       45 * std::sin(0.5 * x + 0.8 * std::sin(0.15 * y)) * std::cos(0.35 * y) +
                       0.5 * x - 0.3 * y;
      row[3 * x] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
      row[3 * x + 1] = static_cast<uint8_t>(std::clamp(v + 25, 0.0, 255.0));
      row[3 * x + 2] = static_cast<uint8_t>(std::clamp(v - 30, 0.0, 255.0));
    }
  }
  return b;
}

QString StatusText(TMainForm* form, int panel) {
  return form->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(panel))->text();
}

TEST_F(MainFormTest, DetectSelectsTheScrambledRectangleAndTheInverseExecuteRestoresIt) {
  const kavun::Bitmap smooth = SmoothBitmap(100, 80);
  const kavun::Bitmap textured = TexturedBitmap(100, 80);
  struct Case {
    const char* name;
    kavun::TransformRequest scramble;
    std::function<void(TMainForm*)> chooseInverse;
    const kavun::Bitmap* picture;
    kavun::TRect rect;  // whole blocks for the mosaic
  };
  kavun::TransformRequest xorMd5;
  xorMd5.Kind = kavun::TransformKind::Xor;
  xorMd5.Mode = kavun::XorKeyMode::MD5;
  xorMd5.Password = "open sesame";
  kavun::TransformRequest shift;
  shift.Kind = kavun::TransformKind::BitShift;
  shift.Shift = 5;  // right; restored by rotating left
  kavun::TransformRequest mosaic;
  mosaic.Kind = kavun::TransformKind::ReversibleMosaic;
  mosaic.BlockW = 8;
  mosaic.BlockH = 7;
  mosaic.Key1 = 3;  // the panel's coefficients
  mosaic.Key2 = 7;
  const kavun::TRect middle{23, 17, 71, 52};
  const Case cases[] = {
      {"xor", xorMd5,
       [](TMainForm* f) {
         QTest::mouseClick(f->RadioButton_ProcSelXOR, Qt::LeftButton);
         QTest::mouseClick(f->RadioButton_ProcXorFuncMD5, Qt::LeftButton);
         f->Edit_ProcXorKey->setText(QStringLiteral("open sesame"));
       },
       &smooth, middle},
      {"shift", shift,
       [](TMainForm* f) {
         QTest::mouseClick(f->RadioButton_ProcSelBS, Qt::LeftButton);
         QTest::mouseClick(f->RadioButton_ProcBitShiftL, Qt::LeftButton);
         f->Edit_ProcBitShiftLen->setText(QStringLiteral("5"));
       },
       &smooth, middle},
      {"mosaic", mosaic,
       [](TMainForm* f) {
         QTest::mouseClick(f->RadioButton_ProcSelRM, Qt::LeftButton);
         QTest::mouseClick(f->RadioButton_ProcRevMosDecode, Qt::LeftButton);
         f->Edit_ProcRevMosBlockW->setText(QStringLiteral("8"));
         f->Edit_ProcRevMosBlockH->setText(QStringLiteral("7"));
         f->Edit_ProcRevMosKey1->setText(QStringLiteral("3"));
         f->Edit_ProcRevMosKey2->setText(QStringLiteral("7"));
       },
       &textured, kavun::TRect{20, 16, 84, 65}},
  };
  for (const Case& c : cases) {
    const kavun::Bitmap& original = *c.picture;
    const kavun::TRect& rect = c.rect;
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
