#pragma once

// Small pictures for a preview: a file decoded no further than a thumbnail needs. A JPEG is
// decoded at 1/2 to 1/8 of its size by libjpeg's scaled inverse DCT; the rows of a PNG without
// interlacing and of a BMP without RLE go into the thumbnail one by one, never all held at once.
// Other files (interlaced PNG, RLE BMP) are decoded whole and then reduced. The decoders, their
// checks and limits are those of LoadImageFile.

#include <cstdint>
#include <filesystem>

#include "engine/bitmap.h"

namespace kavun {

class DecodeWatch;

struct Thumbnail {
  Bitmap Picture;     // 24 bits per pixel, at most `side` x `side`, never larger than the file's
  int32_t Width = 0;  // the picture's own width and height
  int32_t Height = 0;
  int BitsPerPixel = 0;  // the depth LoadImageFile gives the picture
};

// The thumbnail of the picture in `path`, its aspect kept, fitting `side` x `side` pixels.
// `watch` (may be null) follows the decode and can stop it from another thread. Throws Error
// naming the file, as LoadImageFile does.
Thumbnail MakeThumbnail(const std::filesystem::path& path, int32_t side,
                        DecodeWatch* watch = nullptr);

}  // namespace kavun
