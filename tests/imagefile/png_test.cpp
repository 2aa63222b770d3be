#include "imagefile/imagefile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "engine/error.h"
#include "imagefile/codecs.h"
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
  // Chunks claiming gigabytes are refused at their header, before anything is allocated. A file
  // whose only fault lies in ancillary chunks the picture does not use loads: they are skipped.
  for (const auto& entry : fs::directory_iterator(Data("png-crashers"))) {
    if (entry.path().extension() != ".png") continue;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    try {
      LoadImageFile(entry.path());
      if (name == "empty_ancillary_chunks.png") continue;
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
  for (const auto& [format, parallel] :
       {std::pair{PixelFormat::Bits1, false}, std::pair{PixelFormat::Bits8, false},
        std::pair{PixelFormat::Bits24, false}, std::pair{PixelFormat::Bits1, true},
        std::pair{PixelFormat::Bits8, true}, std::pair{PixelFormat::Bits24, true}}) {
    const Bitmap picture = MakePicture(format, 200, 150, 2);
    if (parallel) {
      // The writer that compresses in blocks, with blocks small enough for many of them.
      std::FILE* file = std::fopen((dir / "c.png").string().c_str(), "wb");
      ASSERT_NE(file, nullptr);
      codec::EncodePngParallel(file, picture, {2, 2000});
      ASSERT_EQ(std::fclose(file), 0);
    } else {
      SaveImageFile(dir / "c.png", ".png", picture);
    }
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

// --- the writer that compresses in blocks on several threads --------------------------------

void WriteWith(void (*encode)(std::FILE*, const Bitmap&), const fs::path& path,
               const Bitmap& picture) {
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  ASSERT_NE(file, nullptr);
  encode(file, picture);
  ASSERT_EQ(std::fclose(file), 0);
}

void WriteParallel(const fs::path& path, const Bitmap& picture,
                   const codec::PngParallelSettings& settings) {
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  ASSERT_NE(file, nullptr);
  codec::EncodePngParallel(file, picture, settings);
  ASSERT_EQ(std::fclose(file), 0);
}

// Smooth gradients with a little noise, which compress about as well as a photograph.
Bitmap MakePhotoLike(int32_t width, int32_t height, uint32_t seed) {
  std::mt19937 random(seed);
  Bitmap b(width, height, PixelFormat::Bits24);
  for (int32_t y = 0; y < height; ++y) {
    auto row = b.ScanLine(y);
    for (int32_t x = 0; x < width; ++x) {
      const int noise = static_cast<int>(random() % 7) - 3;
      row[3 * x] = static_cast<uint8_t>(std::clamp(60 + x / 8 + noise, 0, 255));
      row[3 * x + 1] = static_cast<uint8_t>(std::clamp(90 + y / 5 + noise, 0, 255));
      row[3 * x + 2] = static_cast<uint8_t>(std::clamp(200 - (x + y) / 10 + noise, 0, 255));
    }
  }
  return b;
}

struct ParallelPngCase {
  PixelFormat Format;
  int32_t Width;
  int32_t Height;
  std::size_t BlockBytes;
};

class ParallelPng : public testing::TestWithParam<ParallelPngCase> {};

// The file decodes to the picture with libpng and with an independent reader, holds exactly the
// filtered rows the single-threaded writer compresses (so the same filter on every row), and
// keeps the layout: one zlib stream whose header says level 7, IDAT chunks of at most 65535.
TEST_P(ParallelPng, WritesTheRowsOfTheSingleThreadedWriterInOneLevelSevenStream) {
  const ParallelPngCase& c = GetParam();
  TempDir dir;
  const Bitmap picture = MakePicture(c.Format, c.Width, c.Height, 11);
  WriteParallel(dir / "parallel.png", picture, {3, c.BlockBytes});
  WriteWith(codec::EncodePngSingleThreaded, dir / "single.png", picture);

  const test::PngLayout layout = test::ReadPngLayout(ReadBytes(dir / "parallel.png"));
  const test::PngLayout reference = test::ReadPngLayout(ReadBytes(dir / "single.png"));
  EXPECT_EQ(layout.IhdrCount, 1);
  EXPECT_EQ(layout.Interlace, 0);
  EXPECT_EQ(layout.ColorType, reference.ColorType);
  EXPECT_EQ(layout.BitDepth, reference.BitDepth);
  EXPECT_EQ(layout.ZlibLevelBits, 3);  // FLEVEL 3: levels 7 to 9
  EXPECT_LE(layout.LargestIdat, 65535u);
  EXPECT_EQ(layout.Data, reference.Data);
  const int filter = c.Width == 1 ? 0 : 1;  // Sub; None where there is no pixel to the left
  ASSERT_EQ(layout.RowFilters.size(), static_cast<std::size_t>(c.Height));
  for (const int f : layout.RowFilters) ASSERT_EQ(f, filter);

  const Bitmap loaded = LoadImageFile(dir / "parallel.png");
  if (loaded.Format() == c.Format) {
    test::ExpectSamePicture(picture, loaded);
  } else {
    test::ExpectSameColours(picture, loaded);
  }
  test::ExpectMatchesIndependentReader(picture, dir / "parallel.png", 0);
}

// Block sizes are small here so that small pictures get many blocks: a 100-pixel RGB row is
// 301 bytes with its filter byte, so 4096-byte blocks hold 13 rows.
INSTANTIATE_TEST_SUITE_P(
    EveryDepthAndBlockBoundary, ParallelPng,
    testing::Values(
        // One block short of a row, exactly one block, one block and a row, two blocks and more.
        ParallelPngCase{PixelFormat::Bits24, 100, 12, 4096},
        ParallelPngCase{PixelFormat::Bits24, 100, 13, 4096},
        ParallelPngCase{PixelFormat::Bits24, 100, 14, 4096},
        ParallelPngCase{PixelFormat::Bits24, 100, 26, 4096},
        ParallelPngCase{PixelFormat::Bits24, 100, 27, 4096},
        ParallelPngCase{PixelFormat::Bits24, 100, 400, 4096},
        // Every depth the writer handles, over many blocks.
        ParallelPngCase{PixelFormat::Bits1, 203, 300, 1000},
        ParallelPngCase{PixelFormat::Bits4, 203, 300, 1000},
        ParallelPngCase{PixelFormat::Bits8, 203, 300, 1000},
        ParallelPngCase{PixelFormat::Bits16_555, 203, 300, 1000},
        ParallelPngCase{PixelFormat::Bits16_565, 203, 300, 1000},
        ParallelPngCase{PixelFormat::Bits32, 203, 300, 1000},
        // One pixel wide: rows of 2 to 4 bytes, a block per row, dictionaries of many rows.
        ParallelPngCase{PixelFormat::Bits24, 1, 300, 1},
        ParallelPngCase{PixelFormat::Bits1, 1, 300, 1},
        ParallelPngCase{PixelFormat::Bits8, 1, 70, 16},
        // Rows longer than the 32 KiB window: the dictionary is the end of one row.
        ParallelPngCase{PixelFormat::Bits24, 12000, 5, 4096},
        ParallelPngCase{PixelFormat::Bits8, 40000, 3, 4096},
        // The block size in use, around the size above which pictures are saved this way.
        ParallelPngCase{PixelFormat::Bits24, 1000, 174, codec::kPngDeflateBlockBytes},
        ParallelPngCase{PixelFormat::Bits24, 1000, 175, codec::kPngDeflateBlockBytes},
        ParallelPngCase{PixelFormat::Bits8, 2049, 600, codec::kPngDeflateBlockBytes}),
    [](const testing::TestParamInfo<ParallelPngCase>& test) {
      return std::to_string(BitsPerPixel(test.param.Format)) + "bit_" +
             std::to_string(test.param.Width) + "x" + std::to_string(test.param.Height) +
             "_blocks" + std::to_string(test.param.BlockBytes) + "_" + std::to_string(test.index);
    });

TEST(ParallelPng, SavingUsesTheThreadBudgetAndTheSingleThreadedWriterForSmallPictures) {
  TempDir dir;
  struct Case {
    unsigned Budget;
    int32_t Width;
    int32_t Height;
    bool Parallel;
  };
  // 700 x 250 RGB rows are 2101 bytes: 525 250 bytes of image data, just above the threshold;
  // 700 x 249 stays below it.
  static_assert(2101 * 250 >= codec::kPngParallelMinBytes &&
                2101 * 249 < codec::kPngParallelMinBytes);
  for (const Case c : {Case{4, 700, 250, true}, Case{2, 700, 250, true}, Case{4, 700, 249, false},
                       Case{1, 700, 250, false}}) {
    SCOPED_TRACE(std::to_string(c.Budget) + " threads, " + std::to_string(c.Height) + " rows");
    const Bitmap picture = MakePhotoLike(c.Width, c.Height, 3);
    SetSaveThreadBudget(c.Budget);
    SaveImageFile(dir / "saved.png", ".png", picture);
    SetSaveThreadBudget(0);
    EXPECT_EQ(SaveThreadBudget(), std::max(1u, std::thread::hardware_concurrency()));
    WriteWith(codec::EncodePngSingleThreaded, dir / "single.png", picture);
    const auto saved = ReadBytes(dir / "saved.png");
    const auto single = ReadBytes(dir / "single.png");
    EXPECT_EQ(saved != single, c.Parallel);
    EXPECT_EQ(test::ReadPngLayout(saved).Data, test::ReadPngLayout(single).Data);
  }
}

TEST(ParallelPng, StaysWithinOnePercentOfTheSingleThreadedWriter) {
  TempDir dir;
  const Bitmap picture = MakePhotoLike(1280, 720, 5);
  WriteParallel(dir / "parallel.png", picture, {2, codec::kPngDeflateBlockBytes});
  WriteWith(codec::EncodePngSingleThreaded, dir / "single.png", picture);
  const auto parallel = static_cast<double>(fs::file_size(dir / "parallel.png"));
  const auto single = static_cast<double>(fs::file_size(dir / "single.png"));
  EXPECT_LE(parallel, single * 1.01);
  EXPECT_GE(parallel, single * 0.99);
}

TEST(ParallelPng, AWriteErrorStopsTheWorkersAndIsReported) {
  // A stream that takes 20000 bytes: the first full IDAT chunk cannot be written.
  std::vector<char> buffer(20000);
  for (const unsigned threads : {1u, 2u, 5u}) {
    std::FILE* memory = fmemopen(buffer.data(), buffer.size(), "wb");
    ASSERT_NE(memory, nullptr);
    std::setvbuf(memory, nullptr, _IONBF, 0);
    EXPECT_THROW(codec::EncodePngParallel(memory, MakePicture(PixelFormat::Bits24, 600, 500, 1),
                                          {threads, 4096}),
                 Error);
    std::fclose(memory);
  }
}

}  // namespace
}  // namespace kavun
