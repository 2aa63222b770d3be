// PNG through libpng. libpng reports errors by longjmp; every libpng call runs inside PngTry,
// whose frame and the lambda it calls hold nothing with a destructor, so the jump never skips
// C++ clean-up. The C++ code around it owns the buffers and turns a failed step into Error.

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "engine/error.h"
#include "imagefile/codecs.h"
#include "imagefile/imagefile.h"
#include "imagefile/png_deflate.h"

namespace kavun::codec {
namespace {

// Largest IDAT chunk written.
constexpr std::size_t kMaxIdatBytes = 65535;
// The ancillary chunks libpng knows and this reader has no use for: they are skipped unread, so
// that neither their number nor their size nor an error inside them stops a picture from loading
// (tRNS, the only ancillary chunk used, is not among them).
constexpr png_byte kIgnoredChunks[] =
    "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0"
    "sBIT\0sCAL\0sPLT\0sRGB\0sTER\0tEXt\0tIME\0zTXt";
constexpr int kIgnoredChunkCount = 18;
// zlib's largest expansion: a deflate stream of n bytes inflates to at most about 1032 n bytes.
constexpr uint64_t kMaxInflateRatio = 1032;

struct PngState {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  char Message[256] = {};
  std::FILE* File = nullptr;
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

// libpng's message becomes the detail of an error of `kind`; a read that ran into the end of the
// file is reported as such.
[[noreturn]] void Fail(const PngState& state, ErrorKind kind, const char* fallback) {
  if (state.File != nullptr && std::feof(state.File) != 0) kind = ErrorKind::FileEndsEarly;
  if (kind == ErrorKind::NotThisFormat) throw Error(kind, {}, "PNG");
  throw Error(kind, {}, std::string(state.Message[0] != '\0' ? state.Message : fallback));
}

class PngReader {
 public:
  PngReader() {
    state_.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state_, PngErrorFn, PngWarningFn);
    if (state_.Png == nullptr) throw std::bad_alloc();
    state_.Info = png_create_info_struct(state_.Png);
    if (state_.Info == nullptr) {
      png_destroy_read_struct(&state_.Png, nullptr, nullptr);
      throw std::bad_alloc();
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
    if (state_.Png == nullptr) throw std::bad_alloc();
    state_.Info = png_create_info_struct(state_.Png);
    if (state_.Info == nullptr) {
      png_destroy_write_struct(&state_.Png, nullptr);
      throw std::bad_alloc();
    }
  }
  ~PngWriter() { png_destroy_write_struct(&state_.Png, &state_.Info); }
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
  PngState& State() { return state_; }

 private:
  PngState state_;
};

// How a decoded PNG is held in the bitmap. Bgr24: 8-bit RGB without transparency, which libpng
// delivers in the bitmap's own byte order straight into its rows; Rgb24: everything else that
// becomes 24 bits, delivered as RGBA and flattened.
enum class Target { Indexed1, Indexed2As4, Indexed4, Indexed8, Bgr24, Rgb24 };

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
    case Target::Bgr24:
      std::memcpy(out.data(), in, 3 * static_cast<std::size_t>(width));
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

// The palette index of pixel i of a row of `bits`-bit indices (leftmost pixel in the high bits).
int GetIndex(const uint8_t* row, std::size_t i, int bits) {
  const std::size_t perByte = 8 / static_cast<std::size_t>(bits);
  const int shift = 8 - bits * static_cast<int>(i % perByte + 1);
  return (row[i / perByte] >> shift) & ((1 << bits) - 1);
}

void PutIndex(std::span<uint8_t> row, std::size_t x, int bits, int index) {
  const std::size_t perByte = 8 / static_cast<std::size_t>(bits);
  const int shift = 8 - bits * static_cast<int>(x % perByte + 1);
  const int mask = ((1 << bits) - 1) << shift;
  uint8_t& byte = row[x / perByte];
  byte = static_cast<uint8_t>((byte & ~mask) | ((index << shift) & mask));
}

}  // namespace

Bitmap DecodePng(std::FILE* file, const DecodeLimits& limits, DroppedOnLoad* dropped) {
  const uint64_t fileBytes = BytesLeft(file);
  PngReader reader;
  PngState& s = reader.State();
  s.File = file;
  png_set_user_limits(s.Png, kMaxBitmapSide, kMaxBitmapSide);
  // No chunk is held whole except the small critical ones and tRNS, so chunk sizes need no limit
  // of their own: a huge ancillary chunk is skipped, and libpng still checks each IDAT's length
  // against the picture.
  png_set_chunk_malloc_max(s.Png, 0);
  png_set_keep_unknown_chunks(s.Png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_set_keep_unknown_chunks(s.Png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks, kIgnoredChunkCount);
  // Errors libpng calls benign (a tRNS of the wrong length, surplus image data) are warnings:
  // libpng then ignores what is wrong, as every viewer built on it does.
  png_set_benign_errors(s.Png, 1);

  if (!PngTry(s, [&] {
        png_init_io(s.Png, file);
        png_read_info(s.Png, s.Info);
      })) {
    const bool signature = std::strstr(s.Message, "PNG file") != nullptr ||
                           std::strstr(s.Message, "signature") != nullptr;
    Fail(s, signature ? ErrorKind::NotThisFormat : ErrorKind::CorruptData, "not a valid PNG file");
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
    Fail(s, ErrorKind::CorruptData, "invalid PNG header");
  }
  CheckDecodeSize(width, height, limits);
  const int passes = interlace == PNG_INTERLACE_ADAM7 ? 7 : 1;
  {
    // The rows as stored (a filter byte each) cannot inflate from less than 1/1032 of their size:
    // a header whose data cannot be in the file is refused before the picture is allocated.
    const int channels = png_get_channels(s.Png, s.Info);
    const uint64_t pixelBits = static_cast<uint64_t>(channels) * static_cast<unsigned>(bitDepth);
    uint64_t stored = 0;
    for (int pass = 0; pass < passes; ++pass) {
      const uint64_t cols = passes == 1 ? width : PNG_PASS_COLS(uint64_t{width}, pass);
      const uint64_t rows = passes == 1 ? height : PNG_PASS_ROWS(uint64_t{height}, pass);
      if (cols != 0) stored += rows * (1 + (cols * pixelBits + 7) / 8);
    }
    if (fileBytes != 0 && stored > kMaxInflateRatio * fileBytes + 4096) {
      throw Error(ErrorKind::FileEndsEarly, {},
                  std::to_string(fileBytes) + " bytes cannot hold a picture of " +
                      std::to_string(width) + " x " + std::to_string(height) + " pixels");
    }
  }
  const bool transparent = png_get_valid(s.Png, s.Info, PNG_INFO_tRNS) != 0;
  if (dropped != nullptr) {
    dropped->Alpha = transparent || (colorType & PNG_COLOR_MASK_ALPHA) != 0;
    dropped->DeepSamples = bitDepth == 16;
  }

  Target target = Target::Rgb24;
  std::vector<PaletteEntry> palette;
  if (colorType == PNG_COLOR_TYPE_PALETTE && !transparent) {
    png_colorp entries = nullptr;
    int count = 0;
    if (png_get_PLTE(s.Png, s.Info, &entries, &count) == 0 || entries == nullptr) {
      throw Error(ErrorKind::CorruptData, {}, "the palette is missing");
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

  if (target == Target::Rgb24 && colorType == PNG_COLOR_TYPE_RGB && bitDepth == 8 && !transparent) {
    target = Target::Bgr24;
  }

  // Interlace handling is left off: each pass's rows come as they are stored and are put in
  // their places here, so an interlaced picture needs no second buffer of its full size.
  if (!PngTry(s, [&] {
        if (target == Target::Bgr24) png_set_bgr(s.Png);
        if (target == Target::Rgb24) {
          png_set_expand(s.Png);
          png_set_scale_16(s.Png);
          png_set_gray_to_rgb(s.Png);
          png_set_filler(s.Png, 0xFF, PNG_FILLER_AFTER);
        }
        png_read_update_info(s.Png, s.Info);
      })) {
    Fail(s, ErrorKind::UnsupportedVariant, "unsupported PNG format");
  }
  const std::size_t rowBytes = png_get_rowbytes(s.Png, s.Info);
  const int sourceBits = target == Target::Rgb24 ? 32 : target == Target::Bgr24 ? 24 : bitDepth;
  const std::size_t expected =
      (static_cast<std::size_t>(width) * static_cast<unsigned>(sourceBits) + 7) / 8;
  if (rowBytes != expected) throw Error(ErrorKind::UnsupportedVariant, {}, "row layout");

  const PixelFormat format = target == Target::Indexed1   ? PixelFormat::Bits1
                             : target == Target::Indexed8 ? PixelFormat::Bits8
                             : target == Target::Rgb24 || target == Target::Bgr24
                                 ? PixelFormat::Bits24
                                 : PixelFormat::Bits4;
  // Rows handed on one by one need only one row of their own.
  const bool stream = limits.Rows && passes == 1;
  Bitmap bitmap(static_cast<int32_t>(width), stream ? 1 : static_cast<int32_t>(height), format);
  bitmap.SetPalette(std::move(palette));
  const auto rowDone = [&](int32_t y) {
    if (stream) limits.Rows(y, bitmap);
    RowDecoded(limits, y, height);
  };
  const auto w = static_cast<int32_t>(width);
  const auto h = static_cast<int32_t>(height);

  std::vector<uint8_t> row(rowBytes);
  if (passes == 1 && target == Target::Bgr24) {
    // The rows arrive in the bitmap's layout: no copy.
    for (int32_t y = 0; y < h; ++y) {
      png_bytep out = bitmap.ScanLine(stream ? 0 : y).data();
      if (!PngTry(s, [&] { png_read_row(s.Png, out, nullptr); })) {
        Fail(s, ErrorKind::CorruptData, "damaged PNG data");
      }
      rowDone(y);
    }
  } else if (passes == 1) {
    for (int32_t y = 0; y < h; ++y) {
      if (!PngTry(s, [&] { png_read_row(s.Png, row.data(), nullptr); })) {
        Fail(s, ErrorKind::CorruptData, "damaged PNG data");
      }
      StoreRow(target, row.data(), bitmap.ScanLine(stream ? 0 : y), w);
      rowDone(y);
    }
  } else {
    const int outBits = BitsPerPixel(format);
    int64_t rowsRead = 0;
    int64_t rowsStored = 0;
    for (int pass = 0; pass < passes; ++pass) {
      const auto cols = static_cast<int32_t>(PNG_PASS_COLS(width, pass));
      if (cols != 0) rowsStored += static_cast<int64_t>(PNG_PASS_ROWS(height, pass));
    }
    for (int pass = 0; pass < passes; ++pass) {
      const auto cols = static_cast<int32_t>(PNG_PASS_COLS(width, pass));
      const auto rows = static_cast<int32_t>(PNG_PASS_ROWS(height, pass));
      if (cols == 0 || rows == 0) continue;  // libpng skips empty passes as well
      for (int32_t j = 0; j < rows; ++j) {
        if (!PngTry(s, [&] { png_read_row(s.Png, row.data(), nullptr); })) {
          Fail(s, ErrorKind::CorruptData, "damaged PNG data");
        }
        RowDecoded(limits, rowsRead++, rowsStored);
        const auto y = static_cast<int32_t>(PNG_ROW_FROM_PASS_ROW(j, pass));
        const auto out = bitmap.ScanLine(y);
        for (int32_t i = 0; i < cols; ++i) {
          const auto x = static_cast<std::size_t>(PNG_COL_FROM_PASS_COL(i, pass));
          if (target == Target::Bgr24) {
            std::memcpy(out.data() + 3 * x, row.data() + 3 * static_cast<std::size_t>(i), 3);
          } else if (target == Target::Rgb24) {
            const uint8_t* p = row.data() + 4 * static_cast<std::size_t>(i);
            uint8_t* q = out.data() + 3 * x;
            q[0] = Flatten(p[2], p[3]);
            q[1] = Flatten(p[1], p[3]);
            q[2] = Flatten(p[0], p[3]);
          } else {
            PutIndex(out, x, outBits, GetIndex(row.data(), static_cast<std::size_t>(i), bitDepth));
          }
        }
      }
    }
  }
  if (!PngTry(s, [&] { png_read_end(s.Png, nullptr); })) {
    Fail(s, ErrorKind::CorruptData, "damaged PNG data");
  }
  return bitmap;
}

namespace {

// How a bitmap is written as PNG: its bit depth, colour type and palette, and each row in PNG
// byte order. Shared by the single-threaded and the parallel writer, so both store the same
// bytes.
class PngImage {
 public:
  explicit PngImage(const Bitmap& bitmap)
      : bitmap_(bitmap),
        indexed_(HasPalette(bitmap.Format())),
        bitDepth_(indexed_ ? BitsPerPixel(bitmap.Format()) : 8),
        width_(static_cast<std::size_t>(bitmap.Width())),
        rowBytes_(RowBytesOf(bitmap)) {
    if (indexed_) palette_ = PaddedPalette();
  }

  static std::size_t RowBytesOf(const Bitmap& bitmap) {
    const auto width = static_cast<std::size_t>(bitmap.Width());
    return HasPalette(bitmap.Format())
               ? (width * static_cast<unsigned>(BitsPerPixel(bitmap.Format())) + 7) / 8
               : 3 * width;
  }

  int BitDepth() const { return bitDepth_; }
  int ColorType() const { return indexed_ ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB; }
  const std::vector<png_color>& Palette() const { return palette_; }
  std::size_t RowBytes() const { return rowBytes_; }
  // The bytes a filter takes as the pixel to the left (one for depths below 8).
  std::size_t FilterStep() const { return indexed_ ? 1 : 3; }

  // Writes the RowBytes() bytes of row y.
  void Row(int32_t y, uint8_t* out) const {
    const auto src = bitmap_.ScanLine(y);
    if (indexed_) {
      std::memcpy(out, src.data(), rowBytes_);
    } else if (bitmap_.Format() == PixelFormat::Bits24) {
      for (std::size_t x = 0; x < width_; ++x) {
        out[3 * x] = src[3 * x + 2];
        out[3 * x + 1] = src[3 * x + 1];
        out[3 * x + 2] = src[3 * x];
      }
    } else {
      for (std::size_t x = 0; x < width_; ++x) {
        const PaletteEntry c = bitmap_.PixelColor(static_cast<int32_t>(x), y);
        out[3 * x] = c.Red;
        out[3 * x + 1] = c.Green;
        out[3 * x + 2] = c.Blue;
      }
    }
  }

  // Row y as it goes into the compressed data: the filter byte, then the row filtered with Sub
  // (each byte minus the byte one pixel to its left). A picture one pixel wide has no pixel to
  // the left, so its rows carry None, as libpng writes them.
  void FilteredRow(int32_t y, uint8_t* out) const {
    Row(y, out + 1);
    if (width_ == 1) {
      out[0] = PNG_FILTER_VALUE_NONE;
      return;
    }
    out[0] = PNG_FILTER_VALUE_SUB;
    uint8_t* row = out + 1;
    const std::size_t step = FilterStep();
    for (std::size_t i = rowBytes_; i-- > step;)
      row[i] = static_cast<uint8_t>(row[i] - row[i - step]);
  }

 private:
  // PNG requires every index to have a palette entry: the palette is padded with black up to
  // the largest index the pixels use.
  std::vector<png_color> PaddedPalette() const {
    int maxIndex = 0;
    for (int32_t y = 0; y < bitmap_.Height(); ++y) {
      const auto row = bitmap_.ScanLine(y);
      for (std::size_t x = 0; x < width_; ++x) {
        int index = 0;
        if (bitDepth_ == 1) index = (row[x / 8] >> (7 - x % 8)) & 1;
        if (bitDepth_ == 4) index = x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
        if (bitDepth_ == 8) index = row[x];
        maxIndex = std::max(maxIndex, index);
      }
    }
    const std::size_t count = std::min<std::size_t>(
        std::max<std::size_t>(bitmap_.Palette().size(), maxIndex + 1), std::size_t{1} << bitDepth_);
    std::vector<png_color> palette(count, png_color{0, 0, 0});
    for (std::size_t i = 0; i < std::min(count, bitmap_.Palette().size()); ++i) {
      const PaletteEntry& e = bitmap_.Palette()[i];
      palette[i] = png_color{e.Red, e.Green, e.Blue};
    }
    return palette;
  }

  const Bitmap& bitmap_;
  bool indexed_;
  int bitDepth_;
  std::size_t width_;
  std::size_t rowBytes_;
  std::vector<png_color> palette_;
};

// Sets up the header of `image` and writes the signature, IHDR and PLTE: one image, no
// interlacing, the Sub filter on every row, zlib level 7, IDAT chunks of at most 65535 bytes.
void WritePngHeader(PngState& s, std::FILE* file, const Bitmap& bitmap, const PngImage& image) {
  if (!PngTry(s, [&] {
        png_init_io(s.Png, file);
        png_set_IHDR(s.Png, s.Info, static_cast<png_uint_32>(bitmap.Width()),
                     static_cast<png_uint_32>(bitmap.Height()), image.BitDepth(), image.ColorType(),
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (!image.Palette().empty()) {
          png_set_PLTE(s.Png, s.Info, image.Palette().data(),
                       static_cast<int>(image.Palette().size()));
        }
        png_set_filter(s.Png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
        png_set_compression_level(s.Png, kPngZlibLevel);
        // The compression buffer is flushed as one IDAT chunk, so this bounds every IDAT.
        png_set_compression_buffer_size(s.Png, kMaxIdatBytes);
        png_write_info(s.Png, s.Info);
      })) {
    Fail(s, ErrorKind::WriteFailed, "cannot write the PNG header");
  }
}

void CheckSavable(const Bitmap& bitmap) {
  if (bitmap.IsEmpty()) throw Error(ErrorKind::EmptyPicture, {});
}

}  // namespace

void EncodePngSingleThreaded(std::FILE* file, const Bitmap& bitmap) {
  CheckSavable(bitmap);
  const PngImage image(bitmap);
  PngWriter writer;
  PngState& s = writer.State();
  WritePngHeader(s, file, bitmap, image);
  std::vector<uint8_t> row(image.RowBytes());
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    image.Row(y, row.data());
    if (!PngTry(s, [&] { png_write_row(s.Png, row.data()); }))
      Fail(s, ErrorKind::WriteFailed, "cannot write PNG data");
  }
  if (!PngTry(s, [&] { png_write_end(s.Png, nullptr); }))
    Fail(s, ErrorKind::WriteFailed, "cannot write PNG data");
}

void EncodePngParallel(std::FILE* file, const Bitmap& bitmap, const PngParallelSettings& settings) {
  CheckSavable(bitmap);
  const PngImage image(bitmap);
  PngWriter writer;
  PngState& s = writer.State();
  WritePngHeader(s, file, bitmap, image);

  // The compressed stream is cut into IDAT chunks of exactly kMaxIdatBytes, the last one
  // shorter, as libpng cuts its own.
  std::vector<uint8_t> idat;
  idat.reserve(kMaxIdatBytes);
  auto writeIdat = [&] {
    if (!PngTry(s, [&] {
          png_write_chunk(s.Png, reinterpret_cast<png_const_bytep>("IDAT"), idat.data(),
                          idat.size());
        })) {
      Fail(s, ErrorKind::WriteFailed, "cannot write PNG data");
    }
    idat.clear();
  };
  auto sink = [&](const uint8_t* data, std::size_t size) {
    while (size > 0) {
      const std::size_t take = std::min(size, kMaxIdatBytes - idat.size());
      idat.insert(idat.end(), data, data + take);
      data += take;
      size -= take;
      if (idat.size() == kMaxIdatBytes) writeIdat();
    }
  };
  ParallelDeflateSettings deflate;
  deflate.Threads = settings.Threads != 0 ? settings.Threads : SaveThreadBudget();
  deflate.BlockBytes = settings.BlockBytes;
  DeflateRowsInParallel(
      bitmap.Height(), image.RowBytes() + 1,
      [&](int64_t y, uint8_t* out) { image.FilteredRow(static_cast<int32_t>(y), out); }, deflate,
      sink);
  if (!idat.empty()) writeIdat();
  // png_write_end refuses to end a file whose IDAT chunks it did not compress itself; the image
  // data is complete, so IEND closes the file.
  if (!PngTry(s, [&] {
        png_write_chunk(s.Png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
      })) {
    Fail(s, ErrorKind::WriteFailed, "cannot write PNG data");
  }
}

void EncodePng(std::FILE* file, const Bitmap& bitmap) {
  CheckSavable(bitmap);
  const unsigned threads = SaveThreadBudget();
  const auto dataBytes = static_cast<uint64_t>(PngImage::RowBytesOf(bitmap) + 1) *
                         static_cast<uint64_t>(bitmap.Height());
  if (threads > 1 && dataBytes >= kPngParallelMinBytes) {
    EncodePngParallel(file, bitmap, {threads, kPngDeflateBlockBytes});
  } else {
    EncodePngSingleThreaded(file, bitmap);
  }
}

}  // namespace kavun::codec
