#pragma once

// Helpers of the image-file tests: test data, temporary folders, made-up pictures, and small
// readers of our own for what the writers put into PNG and JPEG files.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "engine/bitmap.h"

namespace kavun::test {

std::filesystem::path Data(const std::string& relative);

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Pseudo-random pixels (and palette) in `format`, repeatable from `seed`.
Bitmap MakePicture(PixelFormat format, int32_t width, int32_t height, uint32_t seed);
// Gentle gradients, which JPEG keeps close.
Bitmap MakeSmoothPicture(PixelFormat format, int32_t width, int32_t height);

// Same size, format, palette and pixel bytes (the row padding aside).
void ExpectSamePicture(const Bitmap& expected, const Bitmap& actual);
// Same size and the same displayed colour at every pixel.
void ExpectSameColours(const Bitmap& expected, const Bitmap& actual);
int MaxChannelDifference(const Bitmap& a, const Bitmap& b);

// A reader of our own for non-interlaced 8-bit RGBA PNG files: the unfiltered RGBA bytes.
std::vector<uint8_t> DecodeRawPngRgba8(const std::filesystem::path& path);

struct PngLayout {
  int IhdrCount = 0;
  int ColorType = -1;
  int BitDepth = -1;
  int Interlace = -1;
  int IdatCount = 0;
  uint32_t LargestIdat = 0;
  int ZlibLevelBits = -1;       // FLEVEL of the zlib header
  std::vector<int> RowFilters;  // the filter byte of every row
  std::vector<uint8_t> Data;    // the inflated image data: every row with its filter byte
};
PngLayout ReadPngLayout(const std::vector<uint8_t>& file);
void PatchPngSize(std::vector<uint8_t>& file, uint32_t width, uint32_t height);

struct JpegLayout {
  bool Baseline = false;     // SOF0
  bool Progressive = false;  // SOF2
  int Components = 0;
  int QuantTables = 0;
  bool AllQuantOnes = true;
};
JpegLayout ReadJpegLayout(const std::vector<uint8_t>& file);
void PatchJpegSize(std::vector<uint8_t>& file, uint16_t width, uint16_t height);
// A single-component (greyscale) JPEG whose pixel (x, y) is 10x + y.
void WriteGreyJpeg(const std::filesystem::path& path, int width, int height);

// Comparison with a reader that shares no code with ours (Qt's QImage where it is available).
bool HaveIndependentReader();
void ExpectMatchesIndependentReader(const Bitmap& ours, const std::filesystem::path& file,
                                    int tolerance);

}  // namespace kavun::test
