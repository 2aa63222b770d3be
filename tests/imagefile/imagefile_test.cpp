#include "imagefile/imagefile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/error.h"
#include "test_support.h"

namespace kavun {
namespace {

namespace fs = std::filesystem;
using test::Data;
using test::ExpectSamePicture;
using test::MakePicture;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// --- extensions and dispatch -----------------------------------------------------------------

TEST(FileExtension, TakesTheTextFromTheLastDotOfTheFileName) {
  const std::pair<const char*, const char*> cases[] = {
      {"a.png", ".png"},
      {"/x/y/photo.JPEG", ".JPEG"},
      {"archive.tar.bmp", ".bmp"},
      {"/dir.d/noext", ""},
      {"noext", ""},
      {"dir\\sub.x\\name", ""},
      {"trailing.", "."},
      {".hidden", ".hidden"},
      {"", ""},
  };
  for (const auto& [path, ext] : cases) EXPECT_EQ(FileExtension(path), ext) << path;
}

TEST(LoadImageFile, ChoosesTheDecoderByExtensionWithoutRegardToCase) {
  TempDir dir;
  const auto png = ReadBytes(Data("pngsuite/basn3p08.png"));
  const auto bmp = ReadBytes(Data("bmpsuite/g/rgb24.bmp"));
  for (const char* name : {"a.PNG", "b.Png", "c.png"}) {
    WriteBytes(dir / name, png);
    EXPECT_EQ(LoadImageFile(dir / name).Width(), 32) << name;
  }
  for (const char* name : {"d.BMP", "e.bmp"}) {
    WriteBytes(dir / name, bmp);
    EXPECT_EQ(LoadImageFile(dir / name).Width(), 127) << name;
  }
  Bitmap picture = MakePicture(PixelFormat::Bits24, 9, 5, 1);
  SaveImageFile(dir / "f.jpg", ".jpg", picture);
  fs::copy_file(dir / "f.jpg", dir / "g.JPEG");
  fs::copy_file(dir / "f.jpg", dir / "h.Jpg");
  EXPECT_EQ(LoadImageFile(dir / "g.JPEG").Width(), 9);
  EXPECT_EQ(LoadImageFile(dir / "h.Jpg").Height(), 5);
}

TEST(LoadImageFile, RefusesUnknownExtensionsMissingFilesAndFolders) {
  TempDir dir;
  WriteBytes(dir / "picture.gif", ReadBytes(Data("pngsuite/basn3p08.png")));
  WriteBytes(dir / "noext", ReadBytes(Data("pngsuite/basn3p08.png")));
  fs::create_directory(dir / "folder.png");
  for (const char* name : {"picture.gif", "noext", "missing.png", "folder.png"}) {
    try {
      LoadImageFile(dir / name);
      ADD_FAILURE() << name << " loaded";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
}

TEST(LoadImageFile, FollowsTheExtensionNotTheContent) {
  TempDir dir;
  WriteBytes(dir / "really-a-png.jpg", ReadBytes(Data("pngsuite/basn2c08.png")));
  try {
    LoadImageFile(dir / "really-a-png.jpg");
    FAIL() << "a PNG named .jpg loaded";
  } catch (const Error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("really-a-png.jpg"), std::string::npos) << what;
    EXPECT_NE(what.find("JPEG"), std::string::npos) << what;  // libjpeg's "Not a JPEG file"
  }
}

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
      {"rle4-too-long.bmp", HandMadeBmp(3, 1, 4, 2, 2, {4, 0x11, 0, 1})},
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

// --- malformed PNG and JPEG ------------------------------------------------------------------

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

TEST(Decode, TruncatedFilesAreRefused) {
  TempDir dir;
  const Bitmap picture = MakePicture(PixelFormat::Bits24, 64, 48, 7);
  for (const char* name : {"p.png", "p.jpg", "p.bmp"}) {
    SCOPED_TRACE(name);
    SaveImageFile(dir / name, FileExtension(name), picture);
    auto bytes = ReadBytes(dir / name);
    for (const std::size_t keep : {bytes.size() / 2, bytes.size() - 2, std::size_t{20}}) {
      SCOPED_TRACE(keep);
      WriteBytes(dir / name, std::vector<uint8_t>(bytes.begin(), bytes.begin() + keep));
      EXPECT_THROW(LoadImageFile(dir / name), Error);
    }
  }
}

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

TEST(Decode, OversizedPngAndJpegHeadersAreRefused) {
  TempDir dir;
  // A PNG whose IHDR claims 60000 x 60000 RGB (10 GB): refused at the header.
  auto png = ReadBytes(Data("pngsuite/basn2c08.png"));
  test::PatchPngSize(png, 60000, 60000);
  WriteBytes(dir / "big.png", png);
  EXPECT_THROW(LoadImageFile(dir / "big.png"), Error);
  // A JPEG whose frame header claims 65500 x 65500.
  SaveImageFile(dir / "big.jpg", ".jpg", MakePicture(PixelFormat::Bits24, 8, 8, 1));
  auto jpg = ReadBytes(dir / "big.jpg");
  test::PatchJpegSize(jpg, 65500, 65500);
  WriteBytes(dir / "big.jpg", jpg);
  EXPECT_THROW(LoadImageFile(dir / "big.jpg"), Error);
}

// --- round trips -----------------------------------------------------------------------------

struct RoundTripCase {
  PixelFormat Format;
  const char* Extension;
  PixelFormat LoadedFormat;
};

class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, GivesBackThePixels) {
  const RoundTripCase& c = GetParam();
  TempDir dir;
  for (const auto& [w, h] : {std::pair{13, 7}, std::pair{1, 1}, std::pair{64, 3}}) {
    const Bitmap picture = MakePicture(c.Format, w, h, static_cast<uint32_t>(w * 31 + h));
    const fs::path file = dir / (std::string("rt") + c.Extension);
    SaveImageFile(file, c.Extension, picture);
    // A file written as BMP for want of a known extension is read back as one.
    const bool png = FileExtension(c.Extension) == ".png" || FileExtension(c.Extension) == ".PNG";
    const fs::path readable = dir / (png ? "copy.png" : "copy.bmp");
    fs::copy_file(file, readable, fs::copy_options::overwrite_existing);
    const Bitmap loaded = LoadImageFile(readable);
    ASSERT_EQ(loaded.Format(), c.LoadedFormat);
    if (c.LoadedFormat == c.Format) {
      ExpectSamePicture(picture, loaded);
    } else {
      test::ExpectSameColours(picture, loaded);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryDepth, RoundTrip,
    testing::Values(RoundTripCase{PixelFormat::Bits1, ".png", PixelFormat::Bits1},
                    RoundTripCase{PixelFormat::Bits4, ".png", PixelFormat::Bits4},
                    RoundTripCase{PixelFormat::Bits8, ".png", PixelFormat::Bits8},
                    RoundTripCase{PixelFormat::Bits16_555, ".png", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits16_565, ".png", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits24, ".png", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits32, ".png", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits1, ".bmp", PixelFormat::Bits1},
                    RoundTripCase{PixelFormat::Bits4, ".bmp", PixelFormat::Bits4},
                    RoundTripCase{PixelFormat::Bits8, ".bmp", PixelFormat::Bits8},
                    RoundTripCase{PixelFormat::Bits16_555, ".bmp", PixelFormat::Bits16_555},
                    RoundTripCase{PixelFormat::Bits16_565, ".bmp", PixelFormat::Bits16_565},
                    RoundTripCase{PixelFormat::Bits24, ".bmp", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits32, ".bmp", PixelFormat::Bits32},
                    RoundTripCase{PixelFormat::Bits24, ".PNG", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits8, ".txt", PixelFormat::Bits8}));

TEST(RoundTrip, AnyExtensionOtherThanPngOrJpegWritesBmp) {
  TempDir dir;
  SaveImageFile(dir / "x.PNG", ".PNG", MakePicture(PixelFormat::Bits24, 4, 4, 1));
  SaveImageFile(dir / "y.dat", ".dat", MakePicture(PixelFormat::Bits24, 4, 4, 1));
  SaveImageFile(dir / "z.JPG", ".JPG", MakePicture(PixelFormat::Bits24, 4, 4, 1));
  EXPECT_EQ(ReadBytes(dir / "x.PNG")[1], 'P');
  EXPECT_EQ(ReadBytes(dir / "y.dat")[0], 'B');
  EXPECT_EQ(ReadBytes(dir / "z.JPG")[0], 0xFF);
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

// --- what the writers put into the files ----------------------------------------------------

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

// --- saving safely ---------------------------------------------------------------------------

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(SaveImageFile, ReplacesTheOldFileKeepingItsPermissions) {
  TempDir dir;
  const fs::path file = dir / "keep.png";
  WriteBytes(file, {'o', 'l', 'd'});
  ::chmod(file.c_str(), 0640);
  SaveImageFile(file, ".png", MakePicture(PixelFormat::Bits24, 5, 5, 1));
  EXPECT_EQ(LoadImageFile(file).Width(), 5);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"keep.png"});
}

TEST(SaveImageFile, FailuresLeaveTheOldFileUntouchedAndNoTemporaryFile) {
  TempDir dir;
  const fs::path file = dir / "old.png";
  WriteBytes(file, {'o', 'l', 'd'});
  // No pixels: refused before anything is written.
  EXPECT_THROW(SaveImageFile(file, ".png", Bitmap()), Error);
  // The target is a folder with contents: the rename fails after the data was written.
  fs::create_directory(dir / "taken.bmp");
  WriteBytes(dir / "taken.bmp" / "inside", {'x'});
  try {
    SaveImageFile(dir / "taken.bmp", ".bmp", MakePicture(PixelFormat::Bits24, 5, 5, 1));
    ADD_FAILURE() << "saved over a folder";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("taken.bmp"), std::string::npos) << e.what();
  }
  // A folder that does not exist.
  EXPECT_THROW(
      SaveImageFile(dir / "nowhere" / "x.png", ".png", MakePicture(PixelFormat::Bits24, 5, 5, 1)),
      Error);
  EXPECT_EQ(ReadBytes(file), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"old.png", "taken.bmp"}));
  EXPECT_EQ(FolderEntries(dir / "taken.bmp"), std::vector<std::string>{"inside"});
}

TEST(SaveImageFile, AWriteErrorLeavesTheOldFileUntouched) {
  // A file-size limit makes the writes fail half-way, as a full disk would.
  TempDir dir;
  for (const char* name : {"old.png", "old.jpg", "old.bmp"}) {
    SCOPED_TRACE(name);
    const fs::path file = dir / name;
    WriteBytes(file, {'o', 'l', 'd'});
    const Bitmap noise = MakePicture(PixelFormat::Bits24, 400, 400, 8);
    {
      test::FileSizeLimit limit(20000);
      EXPECT_THROW(SaveImageFile(file, FileExtension(name), noise), Error);
    }
    EXPECT_EQ(ReadBytes(file), (std::vector<uint8_t>{'o', 'l', 'd'}));
    std::error_code ec;
    fs::remove(file, ec);
    EXPECT_TRUE(FolderEntries(dir.Path()).empty());
  }
}

}  // namespace
}  // namespace kavun
