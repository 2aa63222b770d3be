#pragma once

// The coders behind LoadImageFile and SaveImageFile. Each works on an open stdio stream so that
// tests and fuzzers can feed them memory (fmemopen) as well as files. All of them throw Error on
// failure; the caller adds the file's name to the message.

#include <cstdint>
#include <cstdio>

#include "engine/bitmap.h"

namespace kavun::codec {

// Extra limits a caller may impose on top of CheckBitmapSize (the fuzzers keep their memory use
// small with these). Zero means no extra limit.
struct DecodeLimits {
  uint64_t MaxPixels = 0;
};

Bitmap DecodePng(std::FILE* file, const DecodeLimits& limits = {});
Bitmap DecodeJpeg(std::FILE* file, const DecodeLimits& limits = {});
Bitmap DecodeBmp(std::FILE* file, const DecodeLimits& limits = {});

void EncodePng(std::FILE* file, const Bitmap& bitmap);
void EncodeJpeg(std::FILE* file, const Bitmap& bitmap);
void EncodeBmp(std::FILE* file, const Bitmap& bitmap);

// Throws Error when width x height exceeds limits.MaxPixels (if set) or the program's limits.
void CheckDecodeSize(int64_t width, int64_t height, const DecodeLimits& limits);

}  // namespace kavun::codec
