#include "engine/bitmap.h"

#include <gtest/gtest.h>

#include "engine/error.h"
#include "engine/rect.h"
#include "test_bitmaps.h"

namespace kavun {
namespace {

using testing_util::Bytes;
using testing_util::RandomBitmap;

TEST(ColorValue, PacksStorageOrderBlueGreenRed) {
  const uint8_t pixel[3] = {0x12, 0x34, 0x56};
  EXPECT_EQ(PackColor(pixel), 0x123456u);  // red 0x56, green 0x34, blue 0x12
  uint8_t out[3] = {};
  UnpackColor(0xABCDEF, out);
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[1], 0xCD);
  EXPECT_EQ(out[2], 0xEF);
  UnpackColor(0xFF123456, out);  // bits above 23 are never stored
  EXPECT_EQ(PackColor(out), 0x123456u);
}

TEST(Rect, CoversHalfOpenRange) {
  EXPECT_FALSE((TRect{3, 5, 4, 6}).IsEmpty());
  EXPECT_TRUE((TRect{3, 5, 3, 6}).IsEmpty());
  EXPECT_TRUE((TRect{3, 5, 4, 5}).IsEmpty());
  EXPECT_TRUE((TRect{4, 5, 3, 6}).IsEmpty());
}

struct StrideCase {
  int32_t width;
  PixelFormat format;
  std::size_t stride;
};
class StrideTest : public testing::TestWithParam<StrideCase> {};
TEST_P(StrideTest, RowsArePaddedToFourBytes) {
  const auto& c = GetParam();
  EXPECT_EQ(Bitmap::StrideFor(c.width, c.format), c.stride);
  EXPECT_EQ(Bitmap(c.width, 3, c.format).Bits().size(), 3 * c.stride);
}
INSTANTIATE_TEST_SUITE_P(
    Formats, StrideTest,
    testing::Values(StrideCase{1, PixelFormat::Bits1, 4}, StrideCase{33, PixelFormat::Bits1, 8},
                    StrideCase{9, PixelFormat::Bits4, 8}, StrideCase{5, PixelFormat::Bits8, 8},
                    StrideCase{3, PixelFormat::Bits16_565, 8},
                    StrideCase{1, PixelFormat::Bits24, 4}, StrideCase{4, PixelFormat::Bits24, 12},
                    StrideCase{5, PixelFormat::Bits24, 16},
                    StrideCase{3, PixelFormat::Bits32, 12}));

TEST(Bitmap, ScanLineRefusesRowsOutside) {
  Bitmap bitmap(4, 3, PixelFormat::Bits24);
  EXPECT_NO_THROW(bitmap.ScanLine(0));
  EXPECT_NO_THROW(bitmap.ScanLine(2));
  for (int32_t y : {-1, 3, 1000}) {
    try {
      bitmap.ScanLine(y);
      ADD_FAILURE() << "row " << y << " accepted";
    } catch (const Error& e) {
      // The window words this kind as the graphics error "スキャンライン
      // のインデックスが範囲を越えました".
      EXPECT_EQ(e.Kind(), ErrorKind::RowOutOfRange) << e.what();
    }
  }
}

TEST(Bitmap, RefusesOversizedPictures) {
  const auto kindOf = [](auto make) {
    try {
      make();
    } catch (const Error& e) {
      return e.Kind();
    }
    return ErrorKind::Other;
  };
  EXPECT_EQ(kindOf([] { Bitmap(65536, 1, PixelFormat::Bits24); }), ErrorKind::PictureTooLarge);
  EXPECT_EQ(kindOf([] { Bitmap(1, -1, PixelFormat::Bits24); }), ErrorKind::CorruptData);
  // 12 GiB in 24-bit form
  EXPECT_EQ(kindOf([] { CheckBitmapSize(65535, 65535); }), ErrorKind::PictureTooLarge);
  EXPECT_NO_THROW(CheckBitmapSize(65535, 1));
  EXPECT_NO_THROW(CheckBitmapSize(7680, 4320));
}

TEST(Bitmap, ConvertingA24BitBitmapKeepsEveryByte) {
  std::mt19937 rng(1);
  Bitmap bitmap = RandomBitmap(7, 5, rng);
  const auto before = Bytes(bitmap);
  bitmap.ConvertTo24();
  EXPECT_EQ(Bytes(bitmap), before);
}

TEST(Bitmap, ConvertsEveryFormatToItsDisplayedColours) {
  const std::vector<PaletteEntry> palette = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  struct Case {
    PixelFormat format;
    std::vector<uint8_t> row;  // the first row's bytes
    std::vector<PaletteEntry> expected;
  };
  const std::vector<Case> cases = {
      {PixelFormat::Bits1, {0b0100'0000}, {{1, 2, 3}, {4, 5, 6}, {1, 2, 3}}},
      {PixelFormat::Bits4, {0x21, 0x50}, {{7, 8, 9}, {4, 5, 6}, {0, 0, 0}}},  // 5: no entry
      {PixelFormat::Bits8, {2, 0, 1}, {{7, 8, 9}, {1, 2, 3}, {4, 5, 6}}},
      // x-r5-g5-b5: full blue, full green, full red
      {PixelFormat::Bits16_555,
       {0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C},
       {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}},
      // r5-g6-b5: blue 1 of 31, green 1 of 63, red 16 of 31
      {PixelFormat::Bits16_565,
       {0x01, 0x00, 0x20, 0x00, 0x00, 0x80},
       {{8, 0, 0}, {0, 4, 0}, {0, 0, 132}}},
      {PixelFormat::Bits32,
       {1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99},
       {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}},
  };
  for (const Case& c : cases) {
    Bitmap bitmap(3, 2, c.format);
    if (HasPalette(c.format)) bitmap.SetPalette(palette);
    std::copy(c.row.begin(), c.row.end(), bitmap.ScanLine(0).begin());
    bitmap.ConvertTo24();
    ASSERT_EQ(bitmap.Format(), PixelFormat::Bits24);
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(bitmap.Stride(), 12u);
    for (int32_t x = 0; x < 3; ++x) {
      const uint8_t* p = bitmap.ScanLine(0).data() + 3 * x;
      EXPECT_EQ((PaletteEntry{p[0], p[1], p[2]}), c.expected[static_cast<size_t>(x)])
          << "format " << static_cast<int>(c.format) << " pixel " << x;
    }
  }
}

}  // namespace
}  // namespace kavun
