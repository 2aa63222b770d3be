#pragma once

// The coders behind LoadImageFile and SaveImageFile. Each works on an open stdio stream so that
// tests and fuzzers can feed them memory (fmemopen) as well as files. All of them throw Error on
// failure (the kind says what went wrong, a library's message is only its detail); the caller
// adds the file's name.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "engine/bitmap.h"
#include "imagefile/decode_watch.h"
#include "imagefile/imagefile.h"

namespace kavun::codec {

// Extra limits a caller may impose on top of CheckBitmapSize (the fuzzers keep their memory use
// small with these). Zero means no extra limit.
struct DecodeLimits {
  uint64_t MaxPixels = 0;
  // Told of every row and asked whether to go on (null: nobody watches).
  DecodeWatch* Watch = nullptr;
  // JPEG only: the picture is decoded at 1/ScaleDenom of its size (1, 2, 4 or 8) by libjpeg's
  // scaled inverse DCT.
  unsigned ScaleDenom = 1;
  // When set, a decoder that produces whole rows in order (PNG without interlacing, BMP without
  // RLE) hands each row to it as row 0 of a one-row bitmap, `y` being the row's place in the
  // picture, and returns that one-row bitmap instead of holding the whole picture.
  std::function<void(int32_t y, const Bitmap& row)> Rows;
};

// Called by the decoders after each row: reports it to limits.Watch, which throws Error
// (Interrupted) once the decode was cancelled.
inline void RowDecoded(const DecodeLimits& limits, int64_t row, int64_t rows) {
  if (limits.Watch != nullptr) limits.Watch->RowDone(row, rows);
}

// A side of the picture as the JPEG decoder delivers it at limits.ScaleDenom.
inline uint32_t ScaledSide(uint32_t side, const DecodeLimits& limits) {
  const unsigned denom = limits.ScaleDenom == 0 ? 1 : limits.ScaleDenom;
  return static_cast<uint32_t>((uint64_t{side} + denom - 1) / denom);
}

// LoadImageFile with limits: the decoder by the file's extension, the file opened as a regular
// file no larger than its format could need (formats.h), read through limits.Watch when one is
// given. Throws Error naming the file (Interrupted when the watch was cancelled).
Bitmap DecodeFile(const std::filesystem::path& path, const DecodeLimits& limits,
                  DroppedOnLoad* dropped);

// The width and height from the file's header alone (0 x 0 when none can be read).
struct PictureSize {
  int64_t Width = 0;
  int64_t Height = 0;
};
PictureSize ReadPictureSize(const std::filesystem::path& path);

Bitmap DecodePng(std::FILE* file, const DecodeLimits& limits = {},
                 DroppedOnLoad* dropped = nullptr);
Bitmap DecodeJpeg(std::FILE* file, const DecodeLimits& limits = {},
                  DroppedOnLoad* dropped = nullptr);
Bitmap DecodeBmp(std::FILE* file, const DecodeLimits& limits = {},
                 DroppedOnLoad* dropped = nullptr);

// PNG: one image, no interlacing, the Sub filter on every row, zlib level 7, IDAT chunks of at
// most 65535 bytes. EncodePng compresses on up to SaveThreadBudget() threads when the picture
// has at least kPngParallelMinBytes of image data, and otherwise takes the single-threaded path.
void EncodePng(std::FILE* file, const Bitmap& bitmap);
// The single-threaded writer: libpng filters and compresses row by row.
void EncodePngSingleThreaded(std::FILE* file, const Bitmap& bitmap);

inline constexpr std::size_t kPngParallelMinBytes = std::size_t{512} << 10;
inline constexpr std::size_t kPngDeflateBlockBytes = std::size_t{256} << 10;
struct PngParallelSettings {
  unsigned Threads = 0;  // 0: SaveThreadBudget()
  std::size_t BlockBytes = kPngDeflateBlockBytes;
};
// The parallel writer, whatever the picture's size: the same file layout and the same filtered
// rows, compressed in blocks (see png_deflate.h).
void EncodePngParallel(std::FILE* file, const Bitmap& bitmap,
                       const PngParallelSettings& settings = {});
void EncodeJpeg(std::FILE* file, const Bitmap& bitmap);
void EncodeBmp(std::FILE* file, const Bitmap& bitmap);

// Throws Error (PictureTooLarge) when width x height exceeds limits.MaxPixels (if set) or the
// program's limits.
void CheckDecodeSize(int64_t width, int64_t height, const DecodeLimits& limits);

// The bytes left in `file` from its current position (0 when it cannot tell).
uint64_t BytesLeft(std::FILE* file);

}  // namespace kavun::codec
