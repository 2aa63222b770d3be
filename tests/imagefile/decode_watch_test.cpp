// Stopping a decode from another thread, rows handed on one by one, and thumbnails.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>

#include "engine/error.h"
#include "imagefile/codecs.h"
#include "imagefile/decode_watch.h"
#include "imagefile/imagefile.h"
#include "imagefile/thumbnail.h"
#include "test_support.h"

namespace kavun {
namespace {

using test::TempDir;

std::optional<ErrorKind> LoadError(const std::filesystem::path& path, DecodeWatch* watch) {
  try {
    LoadImageFile(path, nullptr, watch);
  } catch (const Error& e) {
    return e.Kind();
  }
  return std::nullopt;
}

// A decode stopped between rows fails as interrupted, whatever the format.
TEST(DecodeWatchTest, ACancelBetweenRowsStopsEveryDecoder) {
  const TempDir dir;
  const Bitmap picture = test::MakePicture(PixelFormat::Bits24, 64, 48, 7);
  for (const char* name : {"a.png", "a.jpg", "a.bmp"}) {
    SCOPED_TRACE(name);
    SaveImageFile(dir / name, FileExtension(name), picture);
    DecodeWatch watch;
    int rows = 0;
    watch.AfterRow = [&] {
      if (++rows == 5) watch.Cancel();
    };
    EXPECT_EQ(LoadError(dir / name, &watch), ErrorKind::Interrupted);
    EXPECT_EQ(rows, 5);
    // The same file without a cancel loads, and its progress reaches the end.
    DecodeWatch quiet;
    EXPECT_EQ(LoadImageFile(dir / name, nullptr, &quiet).Height(), 48);
    EXPECT_EQ(quiet.PerMille(), 1000);
  }
}

// A JPEG whose start-of-image marker is followed by a long hole makes libjpeg read on without a
// row: the read itself stops once cancelled.
TEST(DecodeWatchTest, ACancelStopsALongReadWithoutRows) {
  const TempDir dir;
  const std::filesystem::path path = dir / "hole.jpg";
  test::WriteBytes(path, {0xFF, 0xD8});
  std::filesystem::resize_file(path, uint64_t{512} << 20);  // sparse on every usual file system
  DecodeWatch watch;
  std::optional<ErrorKind> kind;
  std::thread decoder([&] { kind = LoadError(path, &watch); });
  // Reading has begun once progress shows.
  while (watch.PerMille() == 0 && !kind) std::this_thread::yield();
  watch.Cancel();
  decoder.join();
  EXPECT_EQ(kind, ErrorKind::Interrupted);
}

TEST(DecodeWatchTest, ADecodeCancelledBeforeItStartsReadsNothing) {
  const TempDir dir;
  SaveImageFile(dir / "a.png", ".png", test::MakePicture(PixelFormat::Bits24, 8, 8, 1));
  DecodeWatch watch;
  watch.Cancel();
  EXPECT_EQ(LoadError(dir / "a.png", &watch), ErrorKind::Interrupted);
}

// With a row sink, PNG and BMP hand over each row as the whole decode would hold it, and keep
// only one row themselves.
TEST(DecodeWatchTest, RowsHandedOnMatchTheWholeDecode) {
  const TempDir dir;
  struct Case {
    const char* name;
    PixelFormat format;
  };
  for (const Case& c : {Case{"rgb.png", PixelFormat::Bits24}, Case{"pal.png", PixelFormat::Bits8},
                        Case{"one.png", PixelFormat::Bits1}, Case{"rgb.bmp", PixelFormat::Bits24},
                        Case{"four.bmp", PixelFormat::Bits4}}) {
    SCOPED_TRACE(c.name);
    const Bitmap picture = test::MakePicture(c.format, 37, 23, 3);
    SaveImageFile(dir / c.name, FileExtension(c.name), picture);
    const Bitmap whole = LoadImageFile(dir / c.name);
    codec::DecodeLimits limits;
    int seen = 0;
    limits.Rows = [&](int32_t y, const Bitmap& row) {
      ++seen;
      ASSERT_EQ(row.Height(), 1);
      for (int32_t x = 0; x < whole.Width(); ++x) {
        ASSERT_EQ(row.PixelColor(x, 0), whole.PixelColor(x, y)) << x << ", " << y;
      }
    };
    const Bitmap held = codec::DecodeFile(dir / c.name, limits, nullptr);
    EXPECT_EQ(held.Height(), 1);
    EXPECT_EQ(seen, 23);
  }
}

TEST(ThumbnailTest, FitsTheBoxKeepsTheAspectAndTellsThePicturesOwnSize) {
  const TempDir dir;
  struct Case {
    const char* name;
    int32_t width;
    int32_t height;
    int32_t thumbWidth;
    int32_t thumbHeight;
  };
  for (const Case& c :
       {Case{"wide.png", 1000, 250, 200, 50}, Case{"tall.bmp", 120, 600, 40, 200},
        Case{"photo.jpg", 1600, 1200, 200, 150}, Case{"small.png", 30, 20, 30, 20}}) {
    SCOPED_TRACE(c.name);
    const Bitmap picture = test::MakeSmoothPicture(PixelFormat::Bits24, c.width, c.height);
    SaveImageFile(dir / c.name, FileExtension(c.name), picture);
    const Thumbnail thumb = MakeThumbnail(dir / c.name, 200);
    EXPECT_EQ(thumb.Width, c.width);
    EXPECT_EQ(thumb.Height, c.height);
    EXPECT_EQ(thumb.BitsPerPixel, 24);
    EXPECT_EQ(thumb.Picture.Width(), c.thumbWidth);
    EXPECT_EQ(thumb.Picture.Height(), c.thumbHeight);
    // A smooth picture looks alike at every scale: the thumbnail's corners are the picture's.
    const PaletteEntry a = thumb.Picture.PixelColor(0, 0);
    const PaletteEntry b = picture.PixelColor(0, 0);
    EXPECT_NEAR(a.Red, b.Red, 24);
    EXPECT_NEAR(a.Green, b.Green, 24);
    EXPECT_NEAR(a.Blue, b.Blue, 24);
  }
}

// libjpeg's scaled DCT: a JPEG decoded at 1/2 to 1/8 of its size, rounded up.
TEST(ThumbnailTest, AJpegIsDecodedAtAFractionOfItsSize) {
  const TempDir dir;
  SaveImageFile(dir / "a.jpg", ".jpg", test::MakeSmoothPicture(PixelFormat::Bits24, 803, 601));
  for (const unsigned denom : {1u, 2u, 4u, 8u}) {
    codec::DecodeLimits limits;
    limits.ScaleDenom = denom;
    const Bitmap scaled = codec::DecodeFile(dir / "a.jpg", limits, nullptr);
    EXPECT_EQ(scaled.Width(), static_cast<int32_t>((803 + denom - 1) / denom));
    EXPECT_EQ(scaled.Height(), static_cast<int32_t>((601 + denom - 1) / denom));
  }
}

TEST(ThumbnailTest, FailsAsTheLoaderDoesAndStopsWhenCancelled) {
  const TempDir dir;
  test::WriteBytes(dir / "short.png", {1, 2, 3, 4});
  test::WriteBytes(dir / "bad.png", std::vector<uint8_t>(100, 7));
  for (const char* name : {"short.png", "bad.png", "missing.bmp"}) {
    SCOPED_TRACE(name);
    try {
      MakeThumbnail(dir / name, 200);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::optional(e.Kind()), LoadError(dir / name, nullptr));
    }
  }
  SaveImageFile(dir / "a.png", ".png", test::MakePicture(PixelFormat::Bits24, 50, 400, 2));
  DecodeWatch watch;
  int rows = 0;
  watch.AfterRow = [&] {
    if (++rows == 3) watch.Cancel();
  };
  try {
    MakeThumbnail(dir / "a.png", 200, &watch);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::Interrupted);
  }
}

}  // namespace
}  // namespace kavun
