// PNG through libpng. libpng reports errors by longjmp; every libpng call runs inside PngTry,
// whose frame and the lambda it calls hold nothing with a destructor, so the jump never skips
// C++ clean-up. The C++ code around it owns the buffers and turns a failed step into Error.

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "engine/error.h"
#include "imagefile/codecs.h"

namespace kavun::codec {
namespace {

// Largest ancillary chunk libpng may allocate; pictures never need more, hostile files ask for
// gigabytes.
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;
// Largest number of ancillary chunks kept (text, sPLT, unknown).
constexpr png_uint_32 kMaxCachedChunks = 1000;

struct PngState {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  char Message[256] = {};
};

extern "C" void PngErrorFn(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngState*>(png_get_error_ptr(png));
  if (state != nullptr && state->Message[0] == '\0') {
    std::snprintf(state->Message, sizeof state->Message, "%s",
                  message != nullptr ? message : "PNG error");
  }
  png_longjmp(png, 1);
}

extern "C" void PngWarningFn(png_structp, png_const_charp) {}

// Runs `step`, which calls into libpng. Returns false when libpng reported an error.
template <class Step>
bool PngTry(PngState& state, const Step& step) {
  if (setjmp(png_jmpbuf(state.Png))) return false;
  step();
  return true;
}

[[noreturn]] void Fail(const PngState& state, const char* fallback) {
  throw Error(std::string(state.Message[0] != '\0' ? state.Message : fallback));
}

class PngReader {
 public:
  PngReader() {
    state_.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state_, PngErrorFn, PngWarningFn);
    if (state_.Png == nullptr) throw Error("Cannot initialise the PNG decoder");
    state_.Info = png_create_info_struct(state_.Png);
    if (state_.Info == nullptr) {
      png_destroy_read_struct(&state_.Png, nullptr, nullptr);
      throw Error("Cannot initialise the PNG decoder");
    }
  }
  ~PngReader() { png_destroy_read_struct(&state_.Png, &state_.Info, nullptr); }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;
  PngState& State() { return state_; }

 private:
  PngState state_;
};

class PngWriter {
 public:
  PngWriter() {
    state_.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state_, PngErrorFn, PngWarningFn);
    if (state_.Png == nullptr) throw Error("Cannot initialise the PNG encoder");
    state_.Info = png_create_info_struct(state_.Png);
    if (state_.Info == nullptr) {
      png_destroy_write_struct(&state_.Png, nullptr);
      throw Error("Cannot initialise the PNG encoder");
    }
  }
  ~PngWriter() { png_destroy_write_struct(&state_.Png, &state_.Info); }
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
  PngState& State() { return state_; }

 private:
  PngState state_;
};

// How a decoded PNG is held in the bitmap.
enum class Target { Indexed1, Indexed2As4, Indexed4, Indexed8, Rgb24 };

uint8_t Flatten(uint8_t colour, uint8_t alpha) {
  // Composites onto white: opaque pixels keep their colour exactly.
  return static_cast<uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

void StoreRow(Target target, const uint8_t* in, std::span<uint8_t> out, int32_t width) {
  switch (target) {
    case Target::Indexed1:
    case Target::Indexed4:
    case Target::Indexed8: {
      const std::size_t bytes =
          (static_cast<std::size_t>(width) * (target == Target::Indexed1   ? 1
                                              : target == Target::Indexed4 ? 4
                                                                           : 8) +
           7) /
          8;
      std::memcpy(out.data(), in, bytes);
      break;
    }
    case Target::Indexed2As4:
      for (int32_t x = 0; x < width; ++x) {
        const int index = (in[x / 4] >> (6 - 2 * (x % 4))) & 3;
        uint8_t& byte = out[static_cast<std::size_t>(x / 2)];
        byte = (x % 2 == 0) ? static_cast<uint8_t>(index << 4) : static_cast<uint8_t>(byte | index);
      }
      break;
    case Target::Rgb24:
      for (int32_t x = 0; x < width; ++x) {
        const uint8_t* p = in + 4 * static_cast<std::size_t>(x);
        uint8_t* q = out.data() + 3 * static_cast<std::size_t>(x);
        q[0] = Flatten(p[2], p[3]);
        q[1] = Flatten(p[1], p[3]);
        q[2] = Flatten(p[0], p[3]);
      }
      break;
  }
}

}  // namespace

Bitmap DecodePng(std::FILE* file, const DecodeLimits& limits) {
  PngReader reader;
  PngState& s = reader.State();
  png_set_user_limits(s.Png, kMaxBitmapSide, kMaxBitmapSide);
  png_set_chunk_malloc_max(s.Png, kMaxChunkBytes);
  png_set_chunk_cache_max(s.Png, kMaxCachedChunks);
  // libpng treats a chunk longer than the limit as a "benign" error and, when reading, would
  // only warn and then try to allocate it anyway: make such errors fatal.
  png_set_benign_errors(s.Png, 0);

  if (!PngTry(s, [&] {
        png_init_io(s.Png, file);
        png_read_info(s.Png, s.Info);
      })) {
    Fail(s, "not a valid PNG file");
  }
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colorType = 0;
  int interlace = 0;
  if (!PngTry(s, [&] {
        png_get_IHDR(s.Png, s.Info, &width, &height, &bitDepth, &colorType, &interlace, nullptr,
                     nullptr);
      })) {
    Fail(s, "invalid PNG header");
  }
  CheckDecodeSize(width, height, limits);
  const bool transparent = png_get_valid(s.Png, s.Info, PNG_INFO_tRNS) != 0;

  Target target = Target::Rgb24;
  std::vector<PaletteEntry> palette;
  if (colorType == PNG_COLOR_TYPE_PALETTE && !transparent) {
    png_colorp entries = nullptr;
    int count = 0;
    if (png_get_PLTE(s.Png, s.Info, &entries, &count) == 0 || entries == nullptr) {
      throw Error("the PNG palette is missing");
    }
    for (int i = 0; i < count; ++i) {
      palette.push_back({entries[i].blue, entries[i].green, entries[i].red});
    }
    target = bitDepth == 1   ? Target::Indexed1
             : bitDepth == 2 ? Target::Indexed2As4
             : bitDepth == 4 ? Target::Indexed4
                             : Target::Indexed8;
  } else if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth <= 4 && !transparent) {
    // Grey levels become a palette of as many levels as the depth holds.
    const int levels = 1 << bitDepth;
    for (int i = 0; i < levels; ++i) {
      const auto v = static_cast<uint8_t>(i * 255 / (levels - 1));
      palette.push_back({v, v, v});
    }
    target = bitDepth == 1   ? Target::Indexed1
             : bitDepth == 2 ? Target::Indexed2As4
                             : Target::Indexed4;
  }

  int passes = 1;
  if (!PngTry(s, [&] {
        if (target == Target::Rgb24) {
          png_set_expand(s.Png);
          png_set_scale_16(s.Png);
          png_set_gray_to_rgb(s.Png);
          png_set_filler(s.Png, 0xFF, PNG_FILLER_AFTER);
        }
        passes = png_set_interlace_handling(s.Png);
        png_read_update_info(s.Png, s.Info);
      })) {
    Fail(s, "unsupported PNG format");
  }
  const std::size_t rowBytes = png_get_rowbytes(s.Png, s.Info);
  const std::size_t expected =
      target == Target::Rgb24
          ? 4 * static_cast<std::size_t>(width)
          : (static_cast<std::size_t>(width) * static_cast<unsigned>(bitDepth) + 7) / 8;
  if (rowBytes != expected) throw Error("unsupported PNG format");

  const PixelFormat format = target == Target::Indexed1   ? PixelFormat::Bits1
                             : target == Target::Indexed8 ? PixelFormat::Bits8
                             : target == Target::Rgb24    ? PixelFormat::Bits24
                                                          : PixelFormat::Bits4;
  Bitmap bitmap(static_cast<int32_t>(width), static_cast<int32_t>(height), format);
  bitmap.SetPalette(std::move(palette));
  const auto w = static_cast<int32_t>(width);
  const auto h = static_cast<int32_t>(height);

  if (passes > 1) {
    // Interlaced: libpng fills in the whole picture over several passes.
    std::vector<uint8_t> image(rowBytes * height);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = image.data() + rowBytes * y;
    if (!PngTry(s, [&] { png_read_image(s.Png, rows.data()); })) Fail(s, "damaged PNG data");
    for (int32_t y = 0; y < h; ++y) StoreRow(target, rows[y], bitmap.ScanLine(y), w);
  } else {
    std::vector<uint8_t> row(rowBytes);
    for (int32_t y = 0; y < h; ++y) {
      if (!PngTry(s, [&] { png_read_row(s.Png, row.data(), nullptr); })) {
        Fail(s, "damaged PNG data");
      }
      StoreRow(target, row.data(), bitmap.ScanLine(y), w);
    }
  }
  if (!PngTry(s, [&] { png_read_end(s.Png, nullptr); })) Fail(s, "damaged PNG data");
  return bitmap;
}

void EncodePng(std::FILE* file, const Bitmap& bitmap) {
  if (bitmap.IsEmpty()) throw Error("a picture without pixels cannot be saved as PNG");
  const PixelFormat format = bitmap.Format();
  const bool indexed = HasPalette(format);
  const int bitDepth = indexed ? BitsPerPixel(format) : 8;
  const auto width = static_cast<std::size_t>(bitmap.Width());

  // PNG requires every index to have a palette entry: pad the palette with black up to the
  // largest index the pixels use.
  std::vector<png_color> palette;
  if (indexed) {
    int maxIndex = 0;
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
      const auto row = bitmap.ScanLine(y);
      for (std::size_t x = 0; x < width; ++x) {
        int index = 0;
        if (bitDepth == 1) index = (row[x / 8] >> (7 - x % 8)) & 1;
        if (bitDepth == 4) index = x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
        if (bitDepth == 8) index = row[x];
        maxIndex = std::max(maxIndex, index);
      }
    }
    const std::size_t count = std::min<std::size_t>(
        std::max<std::size_t>(bitmap.Palette().size(), maxIndex + 1), std::size_t{1} << bitDepth);
    palette.resize(count, png_color{0, 0, 0});
    for (std::size_t i = 0; i < std::min(count, bitmap.Palette().size()); ++i) {
      const PaletteEntry& e = bitmap.Palette()[i];
      palette[i] = png_color{e.Red, e.Green, e.Blue};
    }
  }

  PngWriter writer;
  PngState& s = writer.State();
  std::vector<uint8_t> row(indexed ? bitmap.Stride() : 3 * width);
  if (!PngTry(s, [&] {
        png_init_io(s.Png, file);
        png_set_IHDR(s.Png, s.Info, static_cast<png_uint_32>(bitmap.Width()),
                     static_cast<png_uint_32>(bitmap.Height()), bitDepth,
                     indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (indexed) png_set_PLTE(s.Png, s.Info, palette.data(), static_cast<int>(palette.size()));
        png_set_filter(s.Png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
        png_set_compression_level(s.Png, 7);
        // The compression buffer is flushed as one IDAT chunk, so this bounds every IDAT.
        png_set_compression_buffer_size(s.Png, 65535);
        png_write_info(s.Png, s.Info);
      })) {
    Fail(s, "cannot write the PNG header");
  }
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    const auto src = bitmap.ScanLine(y);
    if (indexed) {
      std::copy(src.begin(), src.end(), row.begin());
    } else if (format == PixelFormat::Bits24) {
      for (std::size_t x = 0; x < width; ++x) {
        row[3 * x] = src[3 * x + 2];
        row[3 * x + 1] = src[3 * x + 1];
        row[3 * x + 2] = src[3 * x];
      }
    } else {
      for (std::size_t x = 0; x < width; ++x) {
        const PaletteEntry c = bitmap.PixelColor(static_cast<int32_t>(x), y);
        row[3 * x] = c.Red;
        row[3 * x + 1] = c.Green;
        row[3 * x + 2] = c.Blue;
      }
    }
    if (!PngTry(s, [&] { png_write_row(s.Png, row.data()); })) Fail(s, "cannot write PNG data");
  }
  if (!PngTry(s, [&] { png_write_end(s.Png, nullptr); })) Fail(s, "cannot write PNG data");
}

}  // namespace kavun::codec
