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
#include "imagefile/pixel_rows.h"
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

// What the header says, as far as the reader needs it.
struct PngHeader {
  png_uint_32 Width = 0;
  png_uint_32 Height = 0;
  int BitDepth = 0;
  int ColorType = 0;
  int Passes = 1;  // 7 for an interlaced picture
  bool Transparent = false;
};

// Tells libpng what to keep and how strict to be, then reads the chunks up to the image data.
PngHeader ReadPngHeader(PngState& s, std::FILE* file) {
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
  PngHeader h;
  int interlace = 0;
  if (!PngTry(s, [&] {
        png_get_IHDR(s.Png, s.Info, &h.Width, &h.Height, &h.BitDepth, &h.ColorType, &interlace,
                     nullptr, nullptr);
      })) {
    Fail(s, ErrorKind::CorruptData, "invalid PNG header");
  }
  h.Passes = interlace == PNG_INTERLACE_ADAM7 ? 7 : 1;
  h.Transparent = png_get_valid(s.Png, s.Info, PNG_INFO_tRNS) != 0;
  return h;
}

// The rows as stored (a filter byte each) cannot inflate from less than 1/1032 of their size:
// a header whose data cannot be in the file is refused before the picture is allocated.
void CheckRowsFitFile(const PngState& s, const PngHeader& h, uint64_t fileBytes) {
  const int channels = png_get_channels(s.Png, s.Info);
  const uint64_t pixelBits = static_cast<uint64_t>(channels) * static_cast<unsigned>(h.BitDepth);
  uint64_t stored = 0;
  for (int pass = 0; pass < h.Passes; ++pass) {
    const uint64_t cols = h.Passes == 1 ? h.Width : PNG_PASS_COLS(uint64_t{h.Width}, pass);
    const uint64_t rows = h.Passes == 1 ? h.Height : PNG_PASS_ROWS(uint64_t{h.Height}, pass);
    if (cols != 0) stored += rows * (1 + (cols * pixelBits + 7) / 8);
  }
  if (fileBytes != 0 && stored > kMaxInflateRatio * fileBytes + 4096) {
    throw Error(ErrorKind::FileEndsEarly, {},
                std::to_string(fileBytes) + " bytes cannot hold a picture of " +
                    std::to_string(h.Width) + " x " + std::to_string(h.Height) + " pixels");
  }
}

// The bitmap a PNG becomes: palette pictures and grey ones of up to 4 bits stay indexed, the
// rest becomes 24 bits.
struct PngTarget {
  Target Kind = Target::Rgb24;
  PixelFormat Format = PixelFormat::Bits24;
  std::vector<PaletteEntry> Palette;
};

PngTarget ChooseTarget(const PngState& s, const PngHeader& h) {
  PngTarget t;
  const int depth = h.BitDepth;
  if (h.ColorType == PNG_COLOR_TYPE_PALETTE && !h.Transparent) {
    png_colorp entries = nullptr;
    int count = 0;
    if (png_get_PLTE(s.Png, s.Info, &entries, &count) == 0 || entries == nullptr) {
      throw Error(ErrorKind::CorruptData, {}, "the palette is missing");
    }
    for (int i = 0; i < count; ++i) {
      t.Palette.push_back({entries[i].blue, entries[i].green, entries[i].red});
    }
    t.Kind = depth == 1   ? Target::Indexed1
             : depth == 2 ? Target::Indexed2As4
             : depth == 4 ? Target::Indexed4
                          : Target::Indexed8;
  } else if (h.ColorType == PNG_COLOR_TYPE_GRAY && depth <= 4 && !h.Transparent) {
    // Grey levels become a palette of as many levels as the depth holds.
    const int levels = 1 << depth;
    for (int i = 0; i < levels; ++i) {
      const auto v = static_cast<uint8_t>(i * 255 / (levels - 1));
      t.Palette.push_back({v, v, v});
    }
    t.Kind = depth == 1 ? Target::Indexed1 : depth == 2 ? Target::Indexed2As4 : Target::Indexed4;
  } else if (h.ColorType == PNG_COLOR_TYPE_RGB && depth == 8 && !h.Transparent) {
    t.Kind = Target::Bgr24;
  }
  t.Format = t.Kind == Target::Indexed1                           ? PixelFormat::Bits1
             : t.Kind == Target::Indexed8                         ? PixelFormat::Bits8
             : t.Kind == Target::Rgb24 || t.Kind == Target::Bgr24 ? PixelFormat::Bits24
                                                                  : PixelFormat::Bits4;
  return t;
}

// Asks libpng for rows in the target's layout; returns the bytes of one row as libpng hands it.
// Interlace handling is left off: each pass's rows come as they are stored and are put in their
// places by the reader, so an interlaced picture needs no second buffer of its full size.
std::size_t SetRowLayout(PngState& s, const PngHeader& h, Target target) {
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
  const int sourceBits = target == Target::Rgb24 ? 32 : target == Target::Bgr24 ? 24 : h.BitDepth;
  if (rowBytes != PackedRowBytes(h.Width, sourceBits)) {
    throw Error(ErrorKind::UnsupportedVariant, {}, "row layout");
  }
  return rowBytes;
}

void ReadRow(PngState& s, uint8_t* out) {
  if (!PngTry(s, [&] { png_read_row(s.Png, out, nullptr); })) {
    Fail(s, ErrorKind::CorruptData, "damaged PNG data");
  }
}

// One row as libpng hands it (`in`) into the bitmap's row `out`.
void StoreRow(Target target, const uint8_t* in, std::span<uint8_t> out, std::size_t width) {
  switch (target) {
    case Target::Indexed1:
      std::memcpy(out.data(), in, PackedRowBytes(width, 1));
      break;
    case Target::Indexed4:
      std::memcpy(out.data(), in, PackedRowBytes(width, 4));
      break;
    case Target::Indexed8:
      std::memcpy(out.data(), in, width);
      break;
    case Target::Indexed2As4:
      WidenTwoBitRow(in, out, width);
      break;
    case Target::Bgr24:
      std::memcpy(out.data(), in, 3 * width);
      break;
    case Target::Rgb24:
      for (std::size_t x = 0; x < width; ++x) FlattenRgbaPixel(in + 4 * x, out.data() + 3 * x);
      break;
  }
}

// The rows of a picture without interlacing, top to bottom. `rowDone` is called after each.
template <class RowDone>
void ReadProgressiveRows(PngState& s, const PngHeader& h, Target target, Bitmap& bitmap,
                         bool stream, std::size_t rowBytes, const RowDone& rowDone) {
  const auto height = static_cast<int32_t>(h.Height);
  if (target == Target::Bgr24) {
    // The rows arrive in the bitmap's layout: no copy.
    for (int32_t y = 0; y < height; ++y) {
      ReadRow(s, bitmap.ScanLine(stream ? 0 : y).data());
      rowDone(y);
    }
    return;
  }
  std::vector<uint8_t> row(rowBytes);
  for (int32_t y = 0; y < height; ++y) {
    ReadRow(s, row.data());
    StoreRow(target, row.data(), bitmap.ScanLine(stream ? 0 : y), h.Width);
    rowDone(y);
  }
}

// The seven passes of an interlaced picture, each pixel put in its place.
void ReadInterlacedRows(PngState& s, const PngHeader& h, Target target, Bitmap& bitmap,
                        std::size_t rowBytes, const DecodeLimits& limits) {
  const int outBits = BitsPerPixel(bitmap.Format());
  int64_t rowsRead = 0;
  int64_t rowsStored = 0;
  for (int pass = 0; pass < h.Passes; ++pass) {
    const auto cols = static_cast<int32_t>(PNG_PASS_COLS(h.Width, pass));
    if (cols != 0) rowsStored += static_cast<int64_t>(PNG_PASS_ROWS(h.Height, pass));
  }
  std::vector<uint8_t> row(rowBytes);
  for (int pass = 0; pass < h.Passes; ++pass) {
    const auto cols = static_cast<int32_t>(PNG_PASS_COLS(h.Width, pass));
    const auto rows = static_cast<int32_t>(PNG_PASS_ROWS(h.Height, pass));
    if (cols == 0 || rows == 0) continue;  // libpng skips empty passes as well
    for (int32_t j = 0; j < rows; ++j) {
      ReadRow(s, row.data());
      RowDecoded(limits, rowsRead++, rowsStored);
      const auto y = static_cast<int32_t>(PNG_ROW_FROM_PASS_ROW(j, pass));
      const auto out = bitmap.ScanLine(y);
      for (int32_t i = 0; i < cols; ++i) {
        const auto x = static_cast<std::size_t>(PNG_COL_FROM_PASS_COL(i, pass));
        const auto in = static_cast<std::size_t>(i);
        if (target == Target::Bgr24) {
          std::memcpy(out.data() + 3 * x, row.data() + 3 * in, 3);
        } else if (target == Target::Rgb24) {
          FlattenRgbaPixel(row.data() + 4 * in, out.data() + 3 * x);
        } else {
          PutIndex(out, x, outBits, GetIndex(row.data(), in, h.BitDepth));
        }
      }
    }
  }
}

}  // namespace

Bitmap DecodePng(std::FILE* file, const DecodeLimits& limits, DroppedOnLoad* dropped) {
  const uint64_t fileBytes = BytesLeft(file);
  PngReader reader;
  PngState& s = reader.State();
  s.File = file;
  const PngHeader h = ReadPngHeader(s, file);
  CheckDecodeSize(h.Width, h.Height, limits);
  CheckRowsFitFile(s, h, fileBytes);
  if (dropped != nullptr) {
    dropped->Alpha = h.Transparent || (h.ColorType & PNG_COLOR_MASK_ALPHA) != 0;
    dropped->DeepSamples = h.BitDepth == 16;
  }
  PngTarget target = ChooseTarget(s, h);
  const std::size_t rowBytes = SetRowLayout(s, h, target.Kind);

  // Rows handed on one by one need only one row of their own.
  const bool stream = limits.Rows && h.Passes == 1;
  Bitmap bitmap(static_cast<int32_t>(h.Width), stream ? 1 : static_cast<int32_t>(h.Height),
                target.Format);
  bitmap.SetPalette(std::move(target.Palette));
  if (h.Passes == 1) {
    ReadProgressiveRows(s, h, target.Kind, bitmap, stream, rowBytes, [&](int32_t y) {
      if (stream) limits.Rows(y, bitmap);
      RowDecoded(limits, y, h.Height);
    });
  } else {
    ReadInterlacedRows(s, h, target.Kind, bitmap, rowBytes, limits);
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
    return HasPalette(bitmap.Format()) ? PackedRowBytes(width, BitsPerPixel(bitmap.Format()))
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
        maxIndex = std::max(maxIndex, GetIndex(row.data(), x, bitDepth_));
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
