// JPEG through libjpeg (the IJG interface). libjpeg reports errors through error_exit, which
// must not return; it longjmps back into JpegTry, whose frame and the lambda it calls hold
// nothing with a destructor. Warnings about damaged data are fatal too: a truncated or corrupt
// file must fail instead of loading as a half-grey picture.

#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "engine/error.h"
#include "imagefile/codecs.h"

namespace kavun::codec {
namespace {

// A progressive file may carry any number of scans; each one makes the decoder walk the whole
// coefficient buffer. Real files have a dozen; hostile ones thousands.
constexpr int kMaxScans = 1000;

struct JpegErrorManager {
  jpeg_error_mgr Pub;  // first member: libjpeg hands back a pointer to it
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX] = {};
};

struct JpegProgress {
  jpeg_progress_mgr Pub;  // first member
  j_decompress_ptr Decoder = nullptr;
  // Where arithmetic-coded data met the end marker too early (see JpegProgressMonitor).
  bool EndedEarly = false;
  int EndScan = 0;
  JDIMENSION EndRow = 0;  // in rows of blocks (iMCU rows)
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  if (err->Message[0] == '\0') (*cinfo->err->format_message)(cinfo, err->Message);
  std::longjmp(err->Jump, 1);
}

extern "C" void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  // Warnings that only concern header details leave the picture intact.
  switch (cinfo->err->msg_code) {
    case JWRN_ADOBE_XFORM:
    case JWRN_JFIF_MAJOR:
    case JWRN_BOGUS_ICC:
      return;
    default:
      JpegErrorExit(cinfo);
  }
}

extern "C" void JpegProgressMonitor(j_common_ptr cinfo) {
  if (cinfo->is_decompressor == 0) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  if (d->input_scan_number > kMaxScans) {
    std::snprintf(err->Message, sizeof err->Message, "the JPEG file has more than %d scans",
                  kMaxScans);
    std::longjmp(err->Jump, 1);
  }
  // Huffman-coded data that ends before its scan does is reported by libjpeg ("premature end of
  // data segment"). Arithmetic-coded data may legally stop early: the encoder drops the zero
  // bytes at its end, which stand for a stretch of the most probable decisions (a flat area),
  // and the decoder supplies them. The decoder reads only a few bytes ahead, so in a file cut
  // short the end marker is met well before the last rows of blocks of the last scan. This hook
  // runs between rows of blocks while scans are absorbed and before every row handed out; the
  // place is kept, and DecodeJpeg decides once the picture is decoded.
  auto* progress = reinterpret_cast<JpegProgress*>(cinfo->progress);
  if (d->arith_code != 0 && !progress->EndedEarly && d->unread_marker == JPEG_EOI &&
      d->input_iMCU_row != 0 && d->input_iMCU_row + 2 < d->total_iMCU_rows) {
    progress->EndedEarly = true;
    progress->EndScan = d->input_scan_number;
    progress->EndRow = d->input_iMCU_row;
  }
}

// Arithmetic-coded data that met its end marker early (see JpegProgressMonitor) is what a file
// cut short gives, and also what a valid file gives whose last rows are one flat colour: the
// rows decoded from the supplied zeros are then that colour. Anything else after the rows of
// blocks the data reached is refused.
void CheckArithmeticEnd(const JpegProgress& progress, const jpeg_decompress_struct& cinfo,
                        const Bitmap& bitmap) {
  if (!progress.EndedEarly) return;
  const auto height = static_cast<uint32_t>(bitmap.Height());
  const auto rowsPerBlockRow = static_cast<uint32_t>(cinfo.max_v_samp_factor * DCTSIZE);
  const uint32_t from = (progress.EndRow + 2) * rowsPerBlockRow;
  const std::size_t pixel = bitmap.Format() == PixelFormat::Bits8 ? 1 : 3;
  const std::size_t rowBytes = pixel * static_cast<std::size_t>(bitmap.Width());
  bool flat = true;
  if (from < height) {
    const uint8_t* first = bitmap.ScanLine(static_cast<int32_t>(from)).data();
    for (uint32_t y = from; y < height && flat; ++y) {
      const uint8_t* row = bitmap.ScanLine(static_cast<int32_t>(y)).data();
      for (std::size_t i = 0; i < rowBytes; ++i) {
        if (row[i] != first[i % pixel]) {
          flat = false;
          break;
        }
      }
    }
  }
  if (!flat) {
    throw Error(ErrorKind::FileEndsEarly, {},
                "the arithmetic-coded data of scan " + std::to_string(progress.EndScan) +
                    " ends at row of blocks " + std::to_string(progress.EndRow) + " of " +
                    std::to_string(cinfo.total_iMCU_rows));
  }
}

template <class Step>
bool JpegTry(JpegErrorManager& err, const Step& step) {
  if (setjmp(err.Jump)) return false;
  step();
  return true;
}

// libjpeg's message becomes the detail; its code chooses the kind.
[[noreturn]] void Fail(const JpegErrorManager& err, ErrorKind kind, const char* fallback) {
  switch (err.Pub.msg_code) {
    case JERR_NO_SOI:
      kind = ErrorKind::NotThisFormat;
      break;
    case JWRN_JPEG_EOF:
    case JERR_INPUT_EOF:
    case JERR_INPUT_EMPTY:
      kind = ErrorKind::FileEndsEarly;
      break;
    case JERR_OUT_OF_MEMORY:
      kind = ErrorKind::OutOfMemory;
      break;
    case JERR_NO_BACKING_STORE:
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
      kind = ErrorKind::PictureTooLarge;
      break;
    case JERR_ARITH_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_BAD_PRECISION:
    case JERR_CONVERSION_NOTIMPL:
      kind = ErrorKind::UnsupportedVariant;
      break;
    default:
      break;
  }
  if (kind == ErrorKind::NotThisFormat) throw Error(kind, {}, "JPEG");
  throw Error(kind, {}, std::string(err.Message[0] != '\0' ? err.Message : fallback));
}

class JpegDecoder {
 public:
  JpegDecoder() {
    cinfo_.err = jpeg_std_error(&err_.Pub);
    err_.Pub.error_exit = JpegErrorExit;
    err_.Pub.emit_message = JpegEmitMessage;
    if (!JpegTry(err_, [&] { jpeg_create_decompress(&cinfo_); })) throw std::bad_alloc();
    created_ = true;
    progress_.Pub.progress_monitor = JpegProgressMonitor;
    cinfo_.progress = &progress_.Pub;
  }
  ~JpegDecoder() {
    if (created_) jpeg_destroy_decompress(&cinfo_);
  }
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;
  jpeg_decompress_struct& Info() { return cinfo_; }
  JpegErrorManager& Err() { return err_; }
  const JpegProgress& Progress() const { return progress_; }

 private:
  jpeg_decompress_struct cinfo_{};
  JpegErrorManager err_{};
  JpegProgress progress_{};
  bool created_ = false;
};

class JpegEncoder {
 public:
  JpegEncoder() {
    cinfo_.err = jpeg_std_error(&err_.Pub);
    err_.Pub.error_exit = JpegErrorExit;
    if (!JpegTry(err_, [&] { jpeg_create_compress(&cinfo_); })) throw std::bad_alloc();
    created_ = true;
  }
  ~JpegEncoder() {
    if (created_) jpeg_destroy_compress(&cinfo_);
  }
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;
  jpeg_compress_struct& Info() { return cinfo_; }
  JpegErrorManager& Err() { return err_; }

 private:
  jpeg_compress_struct cinfo_{};
  JpegErrorManager err_{};
  bool created_ = false;
};

// A progressive file sends its coefficients in several scans, the last of which complete them
// (successive approximation down to bit 0). jpeg_start_decompress has absorbed every scan up to
// the end marker: a coefficient still missing or not refined to its last bit means the file
// lost its last scans, as a download cut short and closed with an end marker does.
void CheckEveryCoefficientSent(const jpeg_decompress_struct& cinfo) {
  for (int c = 0; c < cinfo.num_components; ++c) {
    for (int k = 0; k < DCTSIZE2; ++k) {
      const int bits = cinfo.coef_bits[c][k];
      if (bits != 0) {
        throw Error(ErrorKind::FileEndsEarly, {},
                    "the progressive JPEG data ends before coefficient " + std::to_string(k) +
                        " of component " + std::to_string(c + 1) +
                        (bits < 0 ? " is sent" : " is complete"));
      }
    }
  }
}

}  // namespace

Bitmap DecodeJpeg(std::FILE* file, const DecodeLimits& limits, DroppedOnLoad* dropped) {
  (void)dropped;  // a JPEG has neither transparency nor samples of more than 8 bits here
  const uint64_t fileBytes = BytesLeft(file);
  JpegDecoder decoder;
  jpeg_decompress_struct& cinfo = decoder.Info();
  JpegErrorManager& err = decoder.Err();

  if (!JpegTry(err, [&] {
        jpeg_stdio_src(&cinfo, file);
        jpeg_read_header(&cinfo, TRUE);
      })) {
    Fail(err, ErrorKind::CorruptData, "not a valid JPEG file");
  }
  CheckDecodeSize(cinfo.image_width, cinfo.image_height, limits);
  if (!cinfo.arith_code && fileBytes != 0) {
    // Huffman coding spends at least one bit on every 8 x 8 block of the first scan, and every
    // component has at least one block per 32 x 32 pixels: a header whose data cannot be in the
    // file is refused before the picture is allocated. (Arithmetic coding has no such floor.)
    const uint64_t blocks =
        (uint64_t{cinfo.image_width} + 31) / 32 * ((uint64_t{cinfo.image_height} + 31) / 32);
    if (blocks > 8 * fileBytes) {
      throw Error(ErrorKind::FileEndsEarly, {},
                  std::to_string(fileBytes) + " bytes cannot hold a picture of " +
                      std::to_string(cinfo.image_width) + " x " +
                      std::to_string(cinfo.image_height) + " pixels");
    }
  }
  const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  if (!grey && cinfo.num_components != 3) {
    throw Error(ErrorKind::UnsupportedVariant, {},
                std::to_string(cinfo.num_components) + " colour components (CMYK)");
  }
  // Colour rows come out in the bitmap's own blue, green, red order.
  cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  // Bound what the decoder may allocate by this picture: a progressive file keeps all its
  // coefficients in memory, two bytes a sample, three samples a pixel at most; plus room for the
  // decoder's own buffers. libjpeg counts in long, which has 32 bits on 32-bit systems and on
  // 64-bit Windows: the bound is worked out in 64 bits and clamped to what long holds.
  const uint64_t pixels = uint64_t{cinfo.image_width} * cinfo.image_height;
  const uint64_t memoryBound = 6 * pixels + (uint64_t{16} << 20);
  cinfo.mem->max_memory_to_use = static_cast<long>(
      std::min<uint64_t>(memoryBound, static_cast<uint64_t>(std::numeric_limits<long>::max())));

  cinfo.scale_denom = limits.ScaleDenom;
  if (!JpegTry(err, [&] { jpeg_start_decompress(&cinfo); })) {
    Fail(err, ErrorKind::CorruptData, "damaged JPEG data");
  }
  if (cinfo.output_width != ScaledSide(cinfo.image_width, limits) ||
      cinfo.output_height != ScaledSide(cinfo.image_height, limits) ||
      cinfo.output_components != (grey ? 1 : 3)) {
    throw Error(ErrorKind::UnsupportedVariant, {}, "output layout");
  }
  if (cinfo.progressive_mode != 0) CheckEveryCoefficientSent(cinfo);
  const auto width = static_cast<int32_t>(cinfo.output_width);
  const auto height = static_cast<int32_t>(cinfo.output_height);
  Bitmap bitmap(width, height, grey ? PixelFormat::Bits8 : PixelFormat::Bits24);
  if (grey) {
    std::vector<PaletteEntry> levels(256);
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<uint8_t>(i);
      levels[static_cast<std::size_t>(i)] = {v, v, v};
    }
    bitmap.SetPalette(std::move(levels));
  }
  for (int32_t y = 0; y < height; ++y) {
    JSAMPROW rows[1] = {bitmap.ScanLine(y).data()};
    JDIMENSION got = 0;
    if (!JpegTry(err, [&] { got = jpeg_read_scanlines(&cinfo, rows, 1); })) {
      Fail(err, ErrorKind::CorruptData, "damaged JPEG data");
    }
    if (got != 1) throw Error(ErrorKind::CorruptData, {}, "a row is missing");
    RowDecoded(limits, y, height);
  }
  CheckArithmeticEnd(decoder.Progress(), cinfo, bitmap);
  if (!JpegTry(err, [&] { jpeg_finish_decompress(&cinfo); })) {
    Fail(err, ErrorKind::CorruptData, "damaged JPEG data");
  }
  return bitmap;
}

void EncodeJpeg(std::FILE* file, const Bitmap& bitmap) {
  if (bitmap.IsEmpty()) throw Error(ErrorKind::EmptyPicture, {});
  JpegEncoder encoder;
  jpeg_compress_struct& cinfo = encoder.Info();
  JpegErrorManager& err = encoder.Err();
  const auto width = static_cast<std::size_t>(bitmap.Width());

  // 24-bit and 32-bit rows go to libjpeg as they are, in the bitmap's blue, green, red order;
  // other formats are converted one row at a time.
  const PixelFormat format = bitmap.Format();
  const bool direct = format == PixelFormat::Bits24 || format == PixelFormat::Bits32;
  const bool wide = format == PixelFormat::Bits32;

  if (!JpegTry(err, [&] {
        jpeg_stdio_dest(&cinfo, file);
        cinfo.image_width = static_cast<JDIMENSION>(bitmap.Width());
        cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
        cinfo.input_components = wide ? 4 : 3;
        cinfo.in_color_space = wide ? JCS_EXT_BGRX : JCS_EXT_BGR;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 100, TRUE);
        cinfo.dct_method = JDCT_FLOAT;
        jpeg_start_compress(&cinfo, TRUE);
      })) {
    Fail(err, ErrorKind::WriteFailed, "cannot write the JPEG header");
  }
  std::vector<uint8_t> converted(direct ? 0 : 3 * width);
  std::vector<PaletteEntry> palette;
  if (HasPalette(format)) {
    palette = bitmap.Palette();
    palette.resize(256);  // entries past the palette's end read as black
  }
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    // libjpeg only reads the rows it is given.
    auto* in = const_cast<uint8_t*>(bitmap.ScanLine(y).data());
    JSAMPROW rows[1] = {in};
    if (format == PixelFormat::Bits8) {
      uint8_t* out = converted.data();
      for (std::size_t x = 0; x < width; ++x, out += 3) {
        const PaletteEntry c = palette[in[x]];
        out[0] = c.Blue;
        out[1] = c.Green;
        out[2] = c.Red;
      }
      rows[0] = converted.data();
    } else if (!direct) {
      uint8_t* out = converted.data();
      for (std::size_t x = 0; x < width; ++x, out += 3) {
        const PaletteEntry c = bitmap.PixelColor(static_cast<int32_t>(x), y);
        out[0] = c.Blue;
        out[1] = c.Green;
        out[2] = c.Red;
      }
      rows[0] = converted.data();
    }
    if (!JpegTry(err, [&] { jpeg_write_scanlines(&cinfo, rows, 1); })) {
      Fail(err, ErrorKind::WriteFailed, "cannot write JPEG data");
    }
  }
  if (!JpegTry(err, [&] { jpeg_finish_compress(&cinfo); })) {
    Fail(err, ErrorKind::WriteFailed, "cannot write JPEG data");
  }
}

}  // namespace kavun::codec
