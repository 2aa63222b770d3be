#pragma once

// The coders behind LoadImageFile and SaveImageFile. Each works on an open stdio stream so that
// tests and fuzzers can feed them memory (fmemopen) as well as files. All of them throw Error on
// failure (the kind says what went wrong, a library's message is only its detail); the caller
// adds the file's name.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "engine/bitmap.h"
#include "imagefile/imagefile.h"

namespace kavun::codec {

// Extra limits a caller may impose on top of CheckBitmapSize (the fuzzers keep their memory use
// small with these). Zero means no extra limit.
struct DecodeLimits {
  uint64_t MaxPixels = 0;
};

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

// The largest file of each format that the largest picture the program holds could need; a
// larger file is refused without being read. Generous: stored (uncompressed) data in the widest
// sample format the format has, plus room for metadata.
inline constexpr uint64_t kMaxPngFileBytes = 3 * uint64_t{kMaxBitmap24Bytes};
inline constexpr uint64_t kMaxJpegFileBytes = 3 * uint64_t{kMaxBitmap24Bytes};
inline constexpr uint64_t kMaxBmpFileBytes = 3 * uint64_t{kMaxBitmap24Bytes} / 2;

}  // namespace kavun::codec
