// The picture on the screen: which image pixels an exposed area needs, each pixel as a square
// of the ratio, and the displayed colours of other depths.
#include <QApplication>
#include <QImage>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <vector>

#include "app/image_view.h"
#include "app_test_support.h"

namespace {

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
