#include "imagefile/imagefile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

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

// --- the rows between the bitmap and libjpeg ---------------------------------------------------

// libjpeg compressing a picture of the bitmap's size into memory, from rows in `space`; the
// caller adds its settings, starts and writes the rows, then takes the file with Finish().
class TMemoryJpeg {
 public:
  TMemoryJpeg(const Bitmap& bitmap, J_COLOR_SPACE space) {
    cinfo.err = jpeg_std_error(&err_);
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer_, &size_);
    cinfo.image_width = static_cast<JDIMENSION>(bitmap.Width());
    cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
    cinfo.input_components = 3;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
  }
  ~TMemoryJpeg() {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer_);
  }
  TMemoryJpeg(const TMemoryJpeg&) = delete;
  TMemoryJpeg& operator=(const TMemoryJpeg&) = delete;

  std::vector<uint8_t> Finish() {
    jpeg_finish_compress(&cinfo);
    return std::vector<uint8_t>(buffer_, buffer_ + size_);
  }

  jpeg_compress_struct cinfo{};

 private:
  jpeg_error_mgr err_{};
  unsigned char* buffer_ = nullptr;
  unsigned long size_ = 0;
};

// What the writer did before it handed libjpeg the bitmap's own rows: every pixel converted to
// red, green, blue, with the same settings.
std::vector<uint8_t> EncodeThroughRgbRows(const Bitmap& bitmap) {
  TMemoryJpeg jpeg(bitmap, JCS_RGB);
  jpeg_compress_struct& cinfo = jpeg.cinfo;
  jpeg_set_quality(&cinfo, 100, TRUE);
  cinfo.dct_method = JDCT_FLOAT;
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(3 * static_cast<std::size_t>(bitmap.Width()));
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    for (int32_t x = 0; x < bitmap.Width(); ++x) {
      const PaletteEntry c = bitmap.PixelColor(x, y);
      row[3 * static_cast<std::size_t>(x)] = c.Red;
      row[3 * static_cast<std::size_t>(x) + 1] = c.Green;
      row[3 * static_cast<std::size_t>(x) + 2] = c.Blue;
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  return jpeg.Finish();
}

// A photograph-like picture: gradients with a little noise, so that every coefficient matters.
Bitmap MakePhotoLike(int32_t width, int32_t height) {
  Bitmap photo = test::MakeSmoothPicture(PixelFormat::Bits24, width, height);
  const Bitmap noise = MakePicture(PixelFormat::Bits24, width, height, 5);
  for (int32_t y = 0; y < height; ++y) {
    auto row = photo.ScanLine(y);
    const auto n = noise.ScanLine(y);
    for (std::size_t i = 0; i < 3 * static_cast<std::size_t>(width); ++i) {
      row[i] = static_cast<uint8_t>(row[i] / 2 + n[i] / 8 + 40);
    }
  }
  return photo;
}

TEST(JpegWriter, BytesAreThoseOfTheRgbRowPathInEveryFormat) {
  TempDir dir;
  for (const PixelFormat format :
       {PixelFormat::Bits1, PixelFormat::Bits4, PixelFormat::Bits8, PixelFormat::Bits16_555,
        PixelFormat::Bits16_565, PixelFormat::Bits24, PixelFormat::Bits32}) {
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{67, 45}, std::pair{333, 97}}) {
      const Bitmap picture =
          format == PixelFormat::Bits24 ? MakePhotoLike(w, h) : MakePicture(format, w, h, 11);
      SaveImageFile(dir / "b.jpg", ".jpg", picture);
      EXPECT_EQ(ReadBytes(dir / "b.jpg"), EncodeThroughRgbRows(picture))
          << "format " << static_cast<int>(format) << ", " << w << " x " << h;
    }
  }
}

TEST(JpegWriter, APaletteShorterThanItsIndicesGivesBlackAsBefore) {
  TempDir dir;
  Bitmap picture = MakePicture(PixelFormat::Bits8, 40, 24, 3);
  picture.SetPalette({{10, 200, 30}, {250, 0, 90}});
  SaveImageFile(dir / "p.jpg", ".jpg", picture);
  EXPECT_EQ(ReadBytes(dir / "p.jpg"), EncodeThroughRgbRows(picture));
}

// What the reader gave before it asked libjpeg for the bitmap's own order: red, green, blue
// rows, swapped afterwards. Greyscale files give their one sample.
std::vector<uint8_t> DecodeThroughRgbRows(const fs::path& file, int* components) {
  const std::vector<uint8_t> bytes = ReadBytes(file);
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  *components = grey ? 1 : 3;
  const std::size_t rowBytes = cinfo.output_width * static_cast<std::size_t>(*components);
  std::vector<uint8_t> pixels(rowBytes * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {pixels.data() + rowBytes * cinfo.output_scanline};
    jpeg_read_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  if (!grey) {
    for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) std::swap(pixels[i], pixels[i + 2]);
  }
  return pixels;
}

TEST(JpegDecode, PixelsAreThoseOfTheRgbRowPath) {
  TempDir dir;
  std::vector<fs::path> files = {test::Data("jpeg/colour.jpg"), test::Data("jpeg/grey.jpg"),
                                 test::Data("jpeg/progressive.jpg"), dir / "photo.jpg"};
  SaveImageFile(dir / "photo.jpg", ".jpg", MakePhotoLike(301, 77));
  for (const fs::path& file : files) {
    int components = 0;
    const std::vector<uint8_t> expected = DecodeThroughRgbRows(file, &components);
    const Bitmap loaded = LoadImageFile(file);
    const std::size_t rowBytes = static_cast<std::size_t>(loaded.Width()) * components;
    ASSERT_EQ(expected.size(), rowBytes * static_cast<std::size_t>(loaded.Height())) << file;
    for (int32_t y = 0; y < loaded.Height(); ++y) {
      const auto row = loaded.ScanLine(y);
      ASSERT_TRUE(std::equal(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(rowBytes),
                             expected.begin() + static_cast<std::ptrdiff_t>(rowBytes * y)))
          << file << " row " << y;
    }
  }
}

// --- files that end early ----------------------------------------------------------------------

enum class Coding { Baseline, Progressive, ArithmeticBaseline, ArithmeticProgressive };

// A valid file of a photograph-like picture in the given coding, written by libjpeg itself.
std::vector<uint8_t> EncodeCoded(const Bitmap& picture, Coding coding) {
  TMemoryJpeg jpeg(picture, JCS_EXT_BGR);
  jpeg_compress_struct& cinfo = jpeg.cinfo;
  jpeg_set_quality(&cinfo, 90, TRUE);
  cinfo.arith_code =
      coding == Coding::ArithmeticBaseline || coding == Coding::ArithmeticProgressive;
  if (coding == Coding::Progressive || coding == Coding::ArithmeticProgressive) {
    jpeg_simple_progression(&cinfo);
  }
  jpeg_start_compress(&cinfo, TRUE);
  for (int32_t y = 0; y < picture.Height(); ++y) {
    JSAMPROW rows[1] = {const_cast<uint8_t*>(picture.ScanLine(y).data())};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  return jpeg.Finish();
}

struct CutCase {
  Coding Kind;
  int Percent;  // of the file kept before the end marker
};

class CutJpeg : public testing::TestWithParam<CutCase> {};

// A file cut short and closed with an end marker, as a broken download or copy leaves it, is
// refused in every coding; the whole file loads.
TEST_P(CutJpeg, IsRefusedWhileTheWholeFileLoads) {
  TempDir dir;
  const std::vector<uint8_t> whole = EncodeCoded(MakePhotoLike(160, 640), GetParam().Kind);
  WriteBytes(dir / "whole.jpg", whole);
  EXPECT_EQ(LoadImageFile(dir / "whole.jpg").Height(), 640);

  std::vector<uint8_t> cut(
      whole.begin(),
      whole.begin() + static_cast<std::ptrdiff_t>(whole.size() * GetParam().Percent / 100));
  cut.insert(cut.end(), {0xFF, 0xD9});
  WriteBytes(dir / "cut.jpg", cut);
  try {
    LoadImageFile(dir / "cut.jpg");
    ADD_FAILURE() << "a file cut at " << GetParam().Percent << " % loaded";
  } catch (const Error& e) {
    EXPECT_TRUE(e.Kind() == ErrorKind::FileEndsEarly || e.Kind() == ErrorKind::CorruptData)
        << e.what();
    EXPECT_EQ(e.Path(), (dir / "cut.jpg").string());
  }
}

// A progressive file that lost its last scans whole, cut just before a scan header: every byte
// it has is valid, but coefficients are missing.
TEST(CutJpeg, ProgressiveFilesMissingTheirLastScanAreRefused) {
  TempDir dir;
  for (const Coding kind : {Coding::Progressive, Coding::ArithmeticProgressive}) {
    std::vector<uint8_t> jpeg = EncodeCoded(MakePhotoLike(64, 48), kind);
    std::size_t lastScan = 0;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
      if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) lastScan = i;
    }
    ASSERT_GT(lastScan, 0u);
    jpeg.resize(lastScan);
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});
    WriteBytes(dir / "short.jpg", jpeg);
    try {
      LoadImageFile(dir / "short.jpg");
      ADD_FAILURE() << "loaded, coding " << static_cast<int>(kind);
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::FileEndsEarly) << e.what();
    }
  }
}

// Valid arithmetic-coded files whose last rows are one flat colour: the encoder drops the zero
// bytes that stand for them, so the data ends early but legally, and they load.
TEST(CutJpeg, ArithmeticFilesEndingInAFlatAreaLoad) {
  TempDir dir;
  Bitmap picture = MakePhotoLike(160, 480);
  for (int32_t y = 160; y < 480; ++y) {
    std::fill(picture.ScanLine(y).begin(), picture.ScanLine(y).end(), uint8_t{0});
  }
  for (const Coding kind : {Coding::ArithmeticBaseline, Coding::ArithmeticProgressive}) {
    WriteBytes(dir / "flat.jpg", EncodeCoded(picture, kind));
    const Bitmap loaded = LoadImageFile(dir / "flat.jpg");
    EXPECT_EQ(loaded.Height(), 480) << static_cast<int>(kind);
    EXPECT_EQ(loaded.PixelColor(80, 400), (PaletteEntry{0, 0, 0}));
  }
}

std::vector<CutCase> EveryCut() {
  std::vector<CutCase> cases;
  for (const Coding kind : {Coding::Baseline, Coding::Progressive, Coding::ArithmeticBaseline,
                            Coding::ArithmeticProgressive}) {
    for (const int percent : {30, 60, 90}) cases.push_back({kind, percent});
  }
  return cases;
}

std::string CutName(const testing::TestParamInfo<CutCase>& info) {
  static const char* const kNames[] = {"Baseline", "Progressive", "ArithmeticBaseline",
                                       "ArithmeticProgressive"};
  return std::string(kNames[static_cast<int>(info.param.Kind)]) + "_" +
         std::to_string(info.param.Percent);
}

INSTANTIATE_TEST_SUITE_P(EveryCoding, CutJpeg, testing::ValuesIn(EveryCut()), CutName);

}  // namespace
}  // namespace kavun
