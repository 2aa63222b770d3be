#include "imagefile/imagefile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/error.h"
#include "test_support.h"

namespace kavun {
namespace {

namespace fs = std::filesystem;
using test::Data;
using test::MakePicture;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// --- BMP decoding ----------------------------------------------------------------------------

struct BmpCase {
  const char* File;
  PixelFormat Format;
};

class BmpGood : public testing::TestWithParam<BmpCase> {};

TEST_P(BmpGood, KeepsTheStoredDepth) {
  const Bitmap b = LoadImageFile(Data(std::string("bmpsuite/g/") + GetParam().File));
  EXPECT_EQ(b.Format(), GetParam().Format);
  EXPECT_EQ(b.Height(), 64);
}

INSTANTIATE_TEST_SUITE_P(
    BmpSuite, BmpGood,
    testing::Values(
        BmpCase{"pal1.bmp", PixelFormat::Bits1}, BmpCase{"pal1bg.bmp", PixelFormat::Bits1},
        BmpCase{"pal4.bmp", PixelFormat::Bits4}, BmpCase{"pal4rle.bmp", PixelFormat::Bits4},
        BmpCase{"pal4gs.bmp", PixelFormat::Bits4}, BmpCase{"pal8.bmp", PixelFormat::Bits8},
        BmpCase{"pal8rle.bmp", PixelFormat::Bits8}, BmpCase{"pal8os2.bmp", PixelFormat::Bits8},
        BmpCase{"pal8v5.bmp", PixelFormat::Bits8}, BmpCase{"pal8topdown.bmp", PixelFormat::Bits8},
        BmpCase{"rgb16.bmp", PixelFormat::Bits16_555},
        BmpCase{"rgb16bfdef.bmp", PixelFormat::Bits16_555},
        BmpCase{"rgb16-565.bmp", PixelFormat::Bits16_565},
        BmpCase{"rgb16-565pal.bmp", PixelFormat::Bits16_565},
        BmpCase{"rgb24.bmp", PixelFormat::Bits24}, BmpCase{"rgb24pal.bmp", PixelFormat::Bits24},
        BmpCase{"rgb32.bmp", PixelFormat::Bits32}, BmpCase{"rgb32bfdef.bmp", PixelFormat::Bits32},
        BmpCase{"rgb32bf.bmp", PixelFormat::Bits24}));

TEST(BmpDecode, FilesOfOneDepthShowTheSamePicture) {
  // BMP Suite's good files all show one picture; within a colour resolution they agree exactly,
  // whatever header, compression, row order or palette layout stores them.
  const std::vector<std::vector<const char*>> groups = {
      {"pal8.bmp", "pal8-0.bmp", "pal8os2.bmp", "pal8rle.bmp", "pal8topdown.bmp", "pal8v4.bmp",
       "pal8v5.bmp"},
      {"pal4.bmp", "pal4rle.bmp"},
      {"rgb24.bmp", "rgb24pal.bmp", "rgb32.bmp", "rgb32bf.bmp", "rgb32bfdef.bmp"},
      {"rgb16.bmp", "rgb16bfdef.bmp"},
      {"rgb16-565.bmp", "rgb16-565pal.bmp"},
  };
  for (const auto& group : groups) {
    const Bitmap first = LoadImageFile(Data(std::string("bmpsuite/g/") + group[0]));
    for (const char* name : group) {
      SCOPED_TRACE(name);
      const Bitmap other = LoadImageFile(Data(std::string("bmpsuite/g/") + name));
      test::ExpectSameColours(first, other);
    }
  }
}

TEST(BmpDecode, EveryGoodFileMatchesAnIndependentReader) {
  if (!test::HaveIndependentReader()) GTEST_SKIP() << "no independent reader in this build";
  for (const auto& entry : fs::directory_iterator(Data("bmpsuite/g"))) {
    SCOPED_TRACE(entry.path().filename().string());
    // Qt widens 5- and 6-bit channels by shifting (31 -> 248), the bitmap by replicating the
    // top bits (31 -> 255).
    const bool sixteen = entry.path().filename().string().starts_with("rgb16");
    test::ExpectMatchesIndependentReader(LoadImageFile(entry.path()), entry.path(),
                                         sixteen ? 7 : 0);
  }
}

TEST(BmpDecode, QuestionableFilesLoadWhereTheyMakeSenseAndFailCleanlyOtherwise) {
  for (const char* name :
       {"pal2.bmp", "pal2color.bmp", "pal8os2sp.bmp", "pal8os2v2.bmp", "pal8os2v2-16.bmp",
        "pal8oversizepal.bmp", "pal8rletrns.bmp", "pal4rlecut.bmp", "pal8rlecut.bmp",
        "rgb16-231.bmp", "rgb32-111110.bmp", "rgba32-1010102.bmp"}) {
    SCOPED_TRACE(name);
    const Bitmap b = LoadImageFile(Data(std::string("bmpsuite/q/") + name));
    EXPECT_EQ(b.Width(), 127);
    EXPECT_EQ(b.Height(), 64);
  }
  for (const char* name :
       {"rgb24jpeg.bmp", "rgb24png.bmp", "rgb24rle24.bmp", "rgba64.bmp", "pal1huffmsb.bmp"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(LoadImageFile(Data(std::string("bmpsuite/q/") + name)), Error);
  }
  // Two-bit pixels are held as four-bit ones with the same colours.
  const Bitmap pal2 = LoadImageFile(Data("bmpsuite/q/pal2color.bmp"));
  EXPECT_EQ(pal2.Format(), PixelFormat::Bits4);
  // Unusual masks are widened to 8 bits per channel.
  EXPECT_EQ(LoadImageFile(Data("bmpsuite/q/rgba32-1010102.bmp")).Format(), PixelFormat::Bits24);
}

// A JPEG or PNG where a BMP is expected, stored inside a BMP or named .bmp, is called what it is.
TEST(BmpDecode, AJpegOrPngWhereABmpIsExpectedIsCalledWhatItIs) {
  TempDir dir;
  fs::copy_file(Data("jpeg/colour.jpg"), dir / "photo.bmp");
  fs::copy_file(Data("pngsuite/basn2c08.png"), dir / "drawing.bmp");
  WriteBytes(dir / "text.bmp", {'h', 'e', 'l', 'l', 'o'});
  WriteBytes(dir / "short.bmp", {0x89, 'P'});
  const struct {
    fs::path File;
    ErrorKind Kind;
    std::string Detail;
  } cases[] = {
      {Data("bmpsuite/q/rgb24jpeg.bmp"), ErrorKind::UnsupportedVariant,
       "a JPEG picture stored inside a BMP file"},
      {Data("bmpsuite/q/rgb24png.bmp"), ErrorKind::UnsupportedVariant,
       "a PNG picture stored inside a BMP file"},
      {dir / "photo.bmp", ErrorKind::NotThisFormat,
       std::string("BMP") + kDetailSeparator + "JPEG" + kDetailSeparator + ".jpg"},
      {dir / "drawing.bmp", ErrorKind::NotThisFormat,
       std::string("BMP") + kDetailSeparator + "PNG" + kDetailSeparator + ".png"},
      {dir / "text.bmp", ErrorKind::NotThisFormat, "BMP"},
      {dir / "short.bmp", ErrorKind::NotThisFormat, "BMP"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File.filename().string());
    try {
      LoadImageFile(c.File);
      ADD_FAILURE() << "loaded";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), c.Kind) << e.what();
      EXPECT_EQ(e.Detail(), c.Detail);
      EXPECT_EQ(std::string(e.what()).find("bits per pixel"), std::string::npos) << e.what();
    }
  }
}

TEST(BmpDecode, BadFilesAreRefusedWithAMessageNamingTheFile) {
  // These carry wrong values in fields that reading does not need (file size, image size,
  // density), an index without palette entry (shown black) or a zero colour mask; they load.
  const std::vector<std::string> harmless = {"badbitssize.bmp",  "baddens1.bmp",
                                             "baddens2.bmp",     "badfilesize.bmp",
                                             "pal8badindex.bmp", "rgb16-880.bmp"};
  for (const auto& entry : fs::directory_iterator(Data("bmpsuite/b"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    if (std::find(harmless.begin(), harmless.end(), name) != harmless.end()) {
      EXPECT_NO_THROW(LoadImageFile(entry.path()));
      continue;
    }
    try {
      LoadImageFile(entry.path());
      ADD_FAILURE() << "loaded";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
}

// Builds a 40-byte-header BMP: fields as given, a palette of `colours` entries and `data`.
std::vector<uint8_t> HandMadeBmp(int32_t width, int32_t height, uint16_t bpp, uint32_t compression,
                                 uint32_t colours, const std::vector<uint8_t>& data,
                                 uint32_t offsetOverride = 0) {
  std::vector<uint8_t> f;
  auto u16 = [&](uint32_t v) {
    f.push_back(static_cast<uint8_t>(v));
    f.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const uint32_t stored = std::min<uint32_t>(colours, 256);  // palette entries actually present
  const uint32_t offset = offsetOverride != 0 ? offsetOverride : 54 + 4 * stored;
  f.push_back('B');
  f.push_back('M');
  u32(static_cast<uint32_t>(offset + data.size()));
  u32(0);
  u32(offset);
  u32(40);
  u32(static_cast<uint32_t>(width));
  u32(static_cast<uint32_t>(height));
  u16(1);
  u16(bpp);
  u32(compression);
  u32(static_cast<uint32_t>(data.size()));
  u32(0);
  u32(0);
  u32(colours);
  u32(0);
  for (uint32_t i = 0; i < stored; ++i) u32(i * 0x010101u);
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

TEST(BmpDecode, HostileHeadersAreRefusedBeforeAnythingLargeIsAllocated) {
  TempDir dir;
  const std::vector<uint8_t> row4(4, 0);
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
      {"int-min-height.bmp", HandMadeBmp(1, INT32_MIN, 24, 0, 0, row4)},
      {"negative-width.bmp", HandMadeBmp(-5, 1, 24, 0, 0, row4)},
      {"zero-height.bmp", HandMadeBmp(1, 0, 24, 0, 0, row4)},
      {"huge.bmp", HandMadeBmp(65535, 65535, 24, 0, 0, row4)},
      {"too-wide.bmp", HandMadeBmp(65536, 1, 24, 0, 0, row4)},
      {"short-pixels.bmp", HandMadeBmp(100, 100, 24, 0, 0, row4)},
      {"offset-past-end.bmp", HandMadeBmp(1, 1, 24, 0, 0, row4, 100000)},
      {"offset-in-header.bmp", HandMadeBmp(1, 1, 24, 0, 0, row4, 20)},
      {"palette-count.bmp", HandMadeBmp(1, 1, 8, 0, 0x7FFFFFFF, row4)},
      {"palette-past-pixels.bmp", HandMadeBmp(1, 1, 8, 0, 200, row4, 60)},
      {"rle-run-too-long.bmp", HandMadeBmp(4, 2, 8, 1, 2, {5, 1, 0, 1})},
      {"rle-delta-outside.bmp", HandMadeBmp(4, 2, 8, 1, 2, {0, 2, 9, 0, 1, 1, 0, 1})},
      {"rle-below-picture.bmp", HandMadeBmp(4, 1, 8, 1, 2, {0, 0, 2, 1, 0, 1})},
      {"rle-absolute-cut.bmp", HandMadeBmp(4, 1, 8, 1, 2, {0, 4, 1, 1})},
      {"rle-no-end.bmp", HandMadeBmp(4, 2, 8, 1, 2, {4, 1})},
      {"rle4-too-long.bmp", HandMadeBmp(3, 1, 4, 2, 2, {9, 0x11, 0, 1})},
      {"bitfields-cut.bmp", HandMadeBmp(1, 1, 16, 3, 0, {})},
      {"rle-top-down.bmp", HandMadeBmp(4, -2, 8, 1, 2, {0, 1})},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    WriteBytes(dir / name, bytes);
    try {
      LoadImageFile(dir / name);
      ADD_FAILURE() << "loaded";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
  // A well-formed RLE8 file with a delta and an early end: skipped pixels are index 0.
  WriteBytes(dir / "rle-ok.bmp", HandMadeBmp(4, 2, 8, 1, 3, {2, 1, 0, 2, 1, 1, 1, 2, 0, 1}));
  const Bitmap ok = LoadImageFile(dir / "rle-ok.bmp");
  const auto bottom = ok.ScanLine(1);
  const auto top = ok.ScanLine(0);
  EXPECT_EQ(std::vector<uint8_t>(bottom.begin(), bottom.begin() + 4),
            (std::vector<uint8_t>{1, 1, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(top.begin(), top.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 2}));
}

// --- what the writer puts into the file -------------------------------------------------------

TEST(BmpWriter, WritesAnInfoHeaderBottomUpWithPaletteOrMasks) {
  TempDir dir;
  Bitmap picture = MakePicture(PixelFormat::Bits16_565, 3, 2, 4);
  SaveImageFile(dir / "m.bmp", ".bmp", picture);
  const auto b = ReadBytes(dir / "m.bmp");
  auto u32 = [&](std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
  };
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(static_cast<int32_t>(u32(22)), 2);  // positive height: bottom-up
  EXPECT_EQ(u32(30), 3u);                       // BI_BITFIELDS
  EXPECT_EQ(u32(54), 0xF800u);
  EXPECT_EQ(u32(10), 66u);
  EXPECT_EQ(b.size(), 66u + 2 * 8);
  // The bottom row comes first.
  EXPECT_EQ(b[66], picture.ScanLine(1)[0]);
  Bitmap indexed = MakePicture(PixelFormat::Bits4, 5, 1, 4);
  SaveImageFile(dir / "p.bmp", ".bmp", indexed);
  const auto p = ReadBytes(dir / "p.bmp");
  EXPECT_EQ(p[28], 4);
  EXPECT_EQ(p[46], indexed.Palette().size());
}

}  // namespace
}  // namespace kavun
