#include "imagefile/thumbnail.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/ascii.h"
#include "engine/error.h"
#include "imagefile/codecs.h"

namespace kavun {
namespace {

// At most this many samples per thumbnail pixel and direction are averaged.
constexpr int64_t kSamples = 4;

// Averages sampled pixels of a picture of `width` x `height` into a thumbnail of `out` size,
// one source row at a time, in any order.
class Reducer {
 public:
  Reducer(int32_t width, int32_t height, int32_t outWidth, int32_t outHeight)
      : height_(height),
        outWidth_(outWidth),
        outHeight_(outHeight),
        sums_(static_cast<std::size_t>(outWidth) * static_cast<std::size_t>(outHeight) * 4) {
    // Up to kSamples columns of each thumbnail column, spread over it.
    for (int32_t tx = 0; tx < outWidth; ++tx) {
      const int64_t x0 = int64_t{tx} * width / outWidth;
      const int64_t x1 = std::max(x0 + 1, int64_t{tx + 1} * width / outWidth);
      const int64_t step = std::max<int64_t>(1, (x1 - x0) / kSamples);
      for (int64_t x = x0; x < x1 && x < x0 + kSamples * step; x += step) {
        columns_.push_back({static_cast<int32_t>(x), tx});
      }
    }
  }

  // Row `y` of the picture is row `sourceRow` of `bitmap`.
  void AddRow(const Bitmap& bitmap, int32_t sourceRow, int32_t y) {
    if (y < 0 || y >= height_) return;
    const int64_t ty = int64_t{y} * outHeight_ / height_;
    const int64_t y0 = (ty * height_ + outHeight_ - 1) / outHeight_;
    const int64_t y1 = std::max(y0 + 1, ((ty + 1) * height_ + outHeight_ - 1) / outHeight_);
    const int64_t step = std::max<int64_t>(1, (y1 - y0) / kSamples);
    if ((y - y0) % step != 0 || y - y0 >= kSamples * step) return;
    uint32_t* row = sums_.data() + static_cast<std::size_t>(ty) * outWidth_ * 4;
    for (const Column& c : columns_) {
      const PaletteEntry p = bitmap.PixelColor(c.X, sourceRow);
      uint32_t* sum = row + static_cast<std::size_t>(c.Out) * 4;
      sum[0] += p.Blue;
      sum[1] += p.Green;
      sum[2] += p.Red;
      ++sum[3];
    }
  }

  Bitmap Result() const {
    Bitmap out(outWidth_, outHeight_, PixelFormat::Bits24);
    for (int32_t ty = 0; ty < outHeight_; ++ty) {
      const auto line = out.ScanLine(ty);
      const uint32_t* sum = sums_.data() + static_cast<std::size_t>(ty) * outWidth_ * 4;
      for (std::size_t i = 0; i < static_cast<std::size_t>(outWidth_); ++i, sum += 4) {
        const uint32_t n = std::max<uint32_t>(1, sum[3]);
        for (std::size_t c = 0; c < 3; ++c) {
          line[3 * i + c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
        }
      }
    }
    return out;
  }

 private:
  struct Column {
    int32_t X;
    int32_t Out;
  };
  int32_t height_;
  int32_t outWidth_;
  int32_t outHeight_;
  std::vector<Column> columns_;
  std::vector<uint32_t> sums_;  // blue, green, red, count per thumbnail pixel
};

// `width` x `height` fitted into `side` x `side`, never enlarged, at least 1 x 1.
void Fit(int64_t width, int64_t height, int32_t side, int32_t* outWidth, int32_t* outHeight) {
  if (width <= side && height <= side) {
    *outWidth = static_cast<int32_t>(width);
    *outHeight = static_cast<int32_t>(height);
    return;
  }
  const int64_t longer = std::max(width, height);
  *outWidth = static_cast<int32_t>(std::max<int64_t>(1, (width * side + longer / 2) / longer));
  *outHeight = static_cast<int32_t>(std::max<int64_t>(1, (height * side + longer / 2) / longer));
}

bool IsJpeg(const std::filesystem::path& path) {
  const std::string ext = LowerAscii(FileExtension(path.string()));
  return ext == ".jpg" || ext == ".jpeg";
}

}  // namespace

Thumbnail MakeThumbnail(const std::filesystem::path& path, int32_t side, DecodeWatch* watch) {
  side = std::max(side, 1);
  codec::DecodeLimits limits;
  limits.Watch = watch;
  // The header's size, when it can be read, decides the scale before anything is decoded; the
  // decoder checks it again.
  const codec::PictureSize header = codec::ReadPictureSize(path);
  const int64_t width = header.Width;
  const int64_t height = std::abs(header.Height);
  const bool known = width > 0 && height > 0 && width <= kMaxBitmapSide && height <= kMaxBitmapSide;
  int32_t outWidth = 0;
  int32_t outHeight = 0;
  if (known) Fit(width, height, side, &outWidth, &outHeight);

  std::unique_ptr<Reducer> streamed;
  int32_t streamedWidth = 0;
  if (known && IsJpeg(path)) {
    // The largest reduction that still leaves at least the thumbnail's size.
    for (const unsigned denom : {8u, 4u, 2u}) {
      if ((width + denom - 1) / denom >= outWidth && (height + denom - 1) / denom >= outHeight) {
        limits.ScaleDenom = denom;
        break;
      }
    }
  } else if (known) {
    limits.Rows = [&](int32_t y, const Bitmap& row) {
      if (!streamed) {
        streamed = std::make_unique<Reducer>(row.Width(), static_cast<int32_t>(height), outWidth,
                                             outHeight);
        streamedWidth = row.Width();
      }
      streamed->AddRow(row, 0, y);
    };
  }
  const Bitmap decoded = codec::DecodeFile(path, limits, nullptr);
  Thumbnail result;
  result.BitsPerPixel = BitsPerPixel(decoded.Format());
  if (streamed) {
    result.Width = streamedWidth;
    result.Height = static_cast<int32_t>(height);
    result.Picture = streamed->Result();
    return result;
  }
  // Decoded whole (at the JPEG's reduced scale): reduce what came out.
  result.Width = limits.ScaleDenom > 1 ? static_cast<int32_t>(width) : decoded.Width();
  result.Height = limits.ScaleDenom > 1 ? static_cast<int32_t>(height) : decoded.Height();
  if (decoded.IsEmpty()) return result;
  const int32_t longer = known ? std::max(outWidth, outHeight) : side;
  Fit(decoded.Width(), decoded.Height(), longer, &outWidth, &outHeight);
  Reducer reducer(decoded.Width(), decoded.Height(), outWidth, outHeight);
  for (int32_t y = 0; y < decoded.Height(); ++y) {
    reducer.AddRow(decoded, y, y);
    if (watch != nullptr && y % 64 == 0 && watch->Cancelled()) {
      throw Error(ErrorKind::Interrupted, path.string(), "cancelled");
    }
  }
  result.Picture = reducer.Result();
  return result;
}

}  // namespace kavun
