#include "imagefile/imagefile.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>

#include "engine/error.h"
#include "test_support.h"

namespace kavun {
namespace {

namespace fs = std::filesystem;
using test::MakePicture;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// --- JPEG decoding ---------------------------------------------------------------------------

TEST(Decode, CorruptJpegDataIsAnErrorNotAHalfGreyPicture) {
  TempDir dir;
  SaveImageFile(dir / "c.jpg", ".jpg", MakePicture(PixelFormat::Bits24, 64, 64, 3));
  auto bytes = ReadBytes(dir / "c.jpg");
  // Overwrite the middle of the entropy-coded data with a restart marker it does not expect.
  const std::size_t middle = bytes.size() * 2 / 3;
  bytes[middle] = 0xFF;
  bytes[middle + 1] = 0xD3;
  WriteBytes(dir / "c.jpg", bytes);
  EXPECT_THROW(LoadImageFile(dir / "c.jpg"), Error);
}

// The tolerance a JPEG round trip at quality 100 keeps on smooth pictures (measured: 3; chroma is
// subsampled 2 x 2, which is what costs the most).
constexpr int kJpegTolerance = 6;

TEST(RoundTrip, JpegKeepsTheSizeAndStaysClose) {
  TempDir dir;
  for (const PixelFormat format : {PixelFormat::Bits24, PixelFormat::Bits8, PixelFormat::Bits32}) {
    const Bitmap picture = test::MakeSmoothPicture(format, 67, 45);
    SaveImageFile(dir / "s.jpeg", ".jpeg", picture);
    const Bitmap loaded = LoadImageFile(dir / "s.jpeg");
    ASSERT_EQ(loaded.Width(), 67);
    ASSERT_EQ(loaded.Height(), 45);
    EXPECT_EQ(loaded.Format(), PixelFormat::Bits24);
    EXPECT_LE(test::MaxChannelDifference(picture, loaded), kJpegTolerance);
  }
}

TEST(JpegDecode, GreyscaleFilesGiveEightBitsWithAGreyPalette) {
  TempDir dir;
  const fs::path file = dir / "grey.jpg";
  test::WriteGreyJpeg(file, 20, 10);
  const Bitmap b = LoadImageFile(file);
  EXPECT_EQ(b.Format(), PixelFormat::Bits8);
  ASSERT_EQ(b.Palette().size(), 256u);
  EXPECT_EQ(b.Palette()[200], (PaletteEntry{200, 200, 200}));
  EXPECT_NEAR(b.PixelColor(19, 9).Red, 19 * 10 + 9, 2);
}

// --- what the writer puts into the file -------------------------------------------------------

TEST(JpegWriter, WritesBaselineThreeComponentsWithAllOnesQuantisation) {
  TempDir dir;
  for (const PixelFormat format : {PixelFormat::Bits24, PixelFormat::Bits8}) {
    SaveImageFile(dir / "q.jpg", ".jpg", MakePicture(format, 40, 30, 9));
    const test::JpegLayout layout = test::ReadJpegLayout(ReadBytes(dir / "q.jpg"));
    EXPECT_TRUE(layout.Baseline);
    EXPECT_FALSE(layout.Progressive);
    EXPECT_EQ(layout.Components, 3);
    EXPECT_GE(layout.QuantTables, 2);
    EXPECT_TRUE(layout.AllQuantOnes);
  }
}

}  // namespace
}  // namespace kavun
