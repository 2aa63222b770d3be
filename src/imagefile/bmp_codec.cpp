// BMP reading and writing of our own. Every header field is checked before it is used: the
// picture's size against the program's limits before anything large is allocated, the palette,
// masks and pixel data against the file's length, RLE runs and deltas against the picture.

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "engine/error.h"
#include "imagefile/codecs.h"

namespace kavun::codec {
namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;

enum Compression : uint32_t {
  kRgb = 0,
  kRle8 = 1,
  kRle4 = 2,
  kBitfields = 3,
  kJpeg = 4,
  kPng = 5,
  kAlphaBitfields = 6,
};

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A header or data that breaks the format.
[[noreturn]] void Bad(const std::string& why) {
  throw Error(ErrorKind::CorruptData, {}, why);
}
// A valid file of a kind this reader does not handle.
[[noreturn]] void Unsupported(const std::string& why) {
  throw Error(ErrorKind::UnsupportedVariant, {}, why);
}
[[noreturn]] void EndsEarly(const std::string& why) {
  throw Error(ErrorKind::FileEndsEarly, {}, why);
}
[[noreturn]] void ReadFailed() {
  throw Error(ErrorKind::ReadFailed, {});
}

// Random access to the file with every read checked against its length.
class Source {
 public:
  explicit Source(std::FILE* file) : file_(file) {
    if (std::fseek(file_, 0, SEEK_END) != 0) ReadFailed();
    const long size = std::ftell(file_);
    if (size < 0) ReadFailed();
    size_ = static_cast<uint64_t>(size);
  }
  uint64_t Size() const { return size_; }
  void Read(uint64_t offset, void* out, std::size_t count, const char* what) {
    if (offset > size_ || count > size_ - offset) {
      EndsEarly(std::string("inside the ") + what);
    }
    if (count == 0) return;
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fread(out, 1, count, file_) != count) {
      ReadFailed();
    }
  }
  // Sequential reads after a Seek.
  void Seek(uint64_t offset) {
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) ReadFailed();
  }
  void ReadNext(void* out, std::size_t count) {
    if (std::fread(out, 1, count, file_) != count) ReadFailed();
  }

 private:
  std::FILE* file_;
  uint64_t size_ = 0;
};

// A channel described by a bit mask: where it sits and how wide it is.
struct Channel {
  uint32_t Mask = 0;
  int Shift = 0;
  int Bits = 0;
  uint8_t Extract(uint32_t value) const {
    if (Bits == 0) return 0;
    const uint64_t v = (value & Mask) >> Shift;
    const uint64_t max = (uint64_t{1} << Bits) - 1;
    return static_cast<uint8_t>((v * 255 + max / 2) / max);
  }
};

Channel MakeChannel(uint32_t mask) {
  Channel c;
  c.Mask = mask;
  if (mask == 0) return c;
  c.Shift = std::countr_zero(mask);
  const uint32_t shifted = mask >> c.Shift;
  if ((shifted & (shifted + 1)) != 0) Bad("a colour mask has gaps");
  c.Bits = std::popcount(shifted);
  return c;
}

struct Header {
  int32_t Width = 0;
  int32_t Height = 0;  // rows, always positive
  bool TopDown = false;
  int Bpp = 0;
  uint32_t Compression = kRgb;
  bool Core = false;  // OS/2 1.x: 3-byte palette entries
  bool Os2v2 = false;
  uint32_t ColorsUsed = 0;
  uint32_t Masks[3] = {};
  bool HasMasks = false;
  uint32_t AlphaMask = 0;  // an alpha channel the picture cannot keep
  uint64_t PaletteOffset = 0;
  uint64_t PixelOffset = 0;
};

Header ReadHeader(Source& src) {
  uint8_t file[kFileHeaderSize];
  if (src.Size() < 2) EndsEarly("inside the file header");
  src.Read(0, file, 2, "file header");
  if (file[0] != 'B' || file[1] != 'M') {
    // A picture of another kind named .bmp: say which, so that renaming it is the obvious fix.
    const bool jpeg = file[0] == 0xFF && file[1] == 0xD8;
    uint8_t magic[8] = {};
    bool png = false;
    if (src.Size() >= sizeof magic) {
      src.Read(0, magic, sizeof magic, "file header");
      png = std::memcmp(magic, "\x89PNG\r\n\x1A\n", sizeof magic) == 0;
    }
    if (jpeg || png) {
      throw Error(ErrorKind::NotThisFormat, {},
                  std::string("BMP") + kDetailSeparator + (jpeg ? "JPEG" : "PNG"));
    }
    throw Error(ErrorKind::NotThisFormat, {}, "BMP");
  }
  src.Read(0, file, sizeof file, "file header");
  Header h;
  h.PixelOffset = U32(file + 10);

  uint8_t size4[4];
  src.Read(kFileHeaderSize, size4, 4, "information header");
  const uint32_t infoSize = U32(size4);
  const bool windows =
      infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 || infoSize == 124;
  h.Core = infoSize == kCoreHeaderSize;
  h.Os2v2 = !windows && infoSize >= 16 && infoSize <= 64;
  if (!windows && !h.Core && !h.Os2v2) {
    Unsupported("information header of " + std::to_string(infoSize) + " bytes");
  }
  uint8_t info[124] = {};
  src.Read(kFileHeaderSize, info, infoSize, "information header");

  int64_t width = 0;
  int64_t height = 0;
  uint16_t planes = 0;
  if (h.Core) {
    width = U16(info + 4);
    height = U16(info + 6);
    planes = U16(info + 8);
    h.Bpp = U16(info + 10);
  } else {
    width = static_cast<int32_t>(U32(info + 4));
    height = static_cast<int32_t>(U32(info + 8));
    planes = U16(info + 12);
    h.Bpp = U16(info + 14);
    h.Compression = U32(info + 16);  // zero when the OS/2 header is shorter
    h.ColorsUsed = U32(info + 32);
    // A JPEG or PNG stored whole inside a BMP has no depth of its own (0 bits per pixel).
    if (!h.Os2v2 && (h.Compression == kJpeg || h.Compression == kPng)) {
      Unsupported(h.Compression == kJpeg ? "a JPEG picture stored inside a BMP file"
                                         : "a PNG picture stored inside a BMP file");
    }
  }
  if (width <= 0) Bad("the width " + std::to_string(width) + " is not positive");
  if (height == 0) Bad("the height is 0");
  h.TopDown = height < 0;
  if (h.TopDown) height = -height;  // 64-bit: INT_MIN negates safely and fails the check below
  CheckDecodeSize(width, height, {});
  h.Width = static_cast<int32_t>(width);
  h.Height = static_cast<int32_t>(height);
  if (planes != 1) Bad("the number of planes is " + std::to_string(planes) + ", not 1");

  switch (h.Bpp) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      Unsupported(std::to_string(h.Bpp) + " bits per pixel");
  }
  if (h.Core && h.Bpp != 1 && h.Bpp != 4 && h.Bpp != 8 && h.Bpp != 24) {
    Unsupported(std::to_string(h.Bpp) + " bits per pixel");
  }

  uint64_t afterHeader = kFileHeaderSize + uint64_t{infoSize};
  switch (h.Compression) {
    case kRgb:
      break;
    case kRle8:
    case kRle4:
      if (h.Bpp != (h.Compression == kRle8 ? 8 : 4)) Bad("RLE compression with the wrong depth");
      if (h.TopDown) Bad("a top-down picture cannot be RLE compressed");
      break;
    case kBitfields:
    case kAlphaBitfields:
      if (h.Os2v2) Unsupported("OS/2 Huffman compression");
      if (h.Bpp != 16 && h.Bpp != 32) Bad("bit-field masks with the wrong depth");
      h.HasMasks = true;
      if (infoSize >= 52) {
        for (int i = 0; i < 3; ++i) h.Masks[i] = U32(info + 40 + 4 * i);
        if (infoSize >= 56) h.AlphaMask = U32(info + 52);
      } else {
        // The masks follow the 40-byte header (a fourth, alpha, with kAlphaBitfields).
        uint8_t masks[16];
        const bool alpha = h.Compression == kAlphaBitfields;
        src.Read(afterHeader, masks, alpha ? 16 : 12, "colour masks");
        for (int i = 0; i < 3; ++i) h.Masks[i] = U32(masks + 4 * i);
        if (alpha) h.AlphaMask = U32(masks + 12);
        afterHeader += alpha ? 16 : 12;
      }
      break;
    case kJpeg:
      if (h.Os2v2) Unsupported("OS/2 RLE24 compression");
      Unsupported("a JPEG inside a BMP");
    case kPng:
      Unsupported("a PNG inside a BMP");
    default:
      Unsupported("compression " + std::to_string(h.Compression));
  }
  h.PaletteOffset = afterHeader;
  if (h.PixelOffset < afterHeader) Bad("the pixel data overlaps the headers");
  if (h.PixelOffset >= src.Size()) EndsEarly("before its pixel data");
  return h;
}

std::vector<PaletteEntry> ReadPalette(Source& src, const Header& h) {
  const uint32_t maxColors = 1u << h.Bpp;
  const uint32_t entrySize = h.Core ? 3 : 4;
  if (h.ColorsUsed > 65536) Bad("the palette size " + std::to_string(h.ColorsUsed) + " is invalid");
  uint32_t count = h.ColorsUsed == 0 ? maxColors : std::min(h.ColorsUsed, maxColors);
  // Some writers store a shorter palette than the depth allows without saying so; take the
  // entries that fit before the pixel data.
  const uint64_t room = (h.PixelOffset - h.PaletteOffset) / entrySize;
  if (h.ColorsUsed == 0) count = static_cast<uint32_t>(std::min<uint64_t>(count, room));
  if (count == 0 || count > room) Bad("the palette overlaps the pixel data");
  std::vector<uint8_t> raw(static_cast<std::size_t>(count) * entrySize);
  src.Read(h.PaletteOffset, raw.data(), raw.size(), "palette");
  std::vector<PaletteEntry> palette(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = raw.data() + static_cast<std::size_t>(i) * entrySize;
    palette[i] = {e[0], e[1], e[2]};
  }
  return palette;
}

// Decodes RLE4/RLE8 data into the rows of an indexed bitmap (rows counted from the bottom).
void DecodeRle(Source& src, const Header& h, Bitmap& bitmap, const DecodeLimits& limits) {
  const bool rle4 = h.Compression == kRle4;
  // A sound encoder never needs more than two bytes per pixel plus two per row; junk beyond
  // that is not read.
  const uint64_t cap = 2 * static_cast<uint64_t>(h.Width) * static_cast<uint64_t>(h.Height) +
                       2 * static_cast<uint64_t>(h.Height) + 1024;
  const uint64_t length = std::min<uint64_t>(src.Size() - h.PixelOffset, cap);
  std::vector<uint8_t> data(static_cast<std::size_t>(length));
  src.Read(h.PixelOffset, data.data(), data.size(), "pixel data");

  // Some encoders run the last run of a row on into the row's padding (up to a multiple of four
  // bytes); those pixels belong to no column and are dropped. Beyond the padding a run is wrong.
  const int64_t paddedWidth = static_cast<int64_t>(Bitmap::StrideFor(
                                  h.Width, rle4 ? PixelFormat::Bits4 : PixelFormat::Bits8)) *
                              (rle4 ? 2 : 1);
  auto put = [&](int64_t x, int64_t y, int index) {
    if (x >= paddedWidth || y >= h.Height) Bad("RLE data leaves the picture");
    if (x >= h.Width) return;
    const auto row = bitmap.ScanLine(static_cast<int32_t>(h.Height - 1 - y));
    const auto ux = static_cast<std::size_t>(x);
    if (rle4) {
      row[ux / 2] = ux % 2 == 0 ? static_cast<uint8_t>((row[ux / 2] & 0x0F) | (index << 4))
                                : static_cast<uint8_t>((row[ux / 2] & 0xF0) | (index & 0x0F));
    } else {
      row[ux] = static_cast<uint8_t>(index);
    }
  };

  std::size_t pos = 0;
  int64_t x = 0;
  int64_t y = 0;
  while (true) {
    if (pos + 2 > data.size()) {
      EndsEarly("the RLE data ends without an end-of-bitmap marker");
    }
    const uint8_t count = data[pos];
    const uint8_t value = data[pos + 1];
    pos += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i, ++x) {
        put(x, y, rle4 ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value);
      }
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      RowDecoded(limits, y++, h.Height);
    } else if (value == 1) {  // end of bitmap
      return;
    } else if (value == 2) {  // delta
      if (pos + 2 > data.size()) EndsEarly("the RLE data ends inside a delta");
      x += data[pos];
      y += data[pos + 1];
      pos += 2;
      if (data[pos - 1] != 0) RowDecoded(limits, y - 1, h.Height);
      if (x > paddedWidth || y > h.Height) Bad("an RLE delta leaves the picture");
    } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
      const std::size_t bytes = rle4 ? (value + 1u) / 2 : value;
      if (pos + bytes > data.size()) EndsEarly("the RLE data ends inside a run");
      for (int i = 0; i < value; ++i, ++x) {
        const uint8_t b = data[pos + static_cast<std::size_t>(rle4 ? i / 2 : i)];
        put(x, y, rle4 ? (i % 2 == 0 ? b >> 4 : b & 0x0F) : b);
      }
      pos += (bytes + 1) & ~std::size_t{1};
    }
  }
}

}  // namespace

Bitmap DecodeBmp(std::FILE* file, const DecodeLimits& limits, DroppedOnLoad* dropped) {
  Source src(file);
  const Header h = ReadHeader(src);
  CheckDecodeSize(h.Width, h.Height, limits);
  const bool rle = h.Compression == kRle4 || h.Compression == kRle8;
  const uint64_t stride =
      (static_cast<uint64_t>(h.Width) * static_cast<uint64_t>(h.Bpp) + 31) / 32 * 4;
  // Uncompressed rows must all be in the file: checked before the picture is allocated.
  if (!rle && stride * static_cast<uint64_t>(h.Height) > src.Size() - h.PixelOffset) {
    EndsEarly("shorter than its " + std::to_string(h.Height) + " rows of pixels");
  }
  if (dropped != nullptr && h.Bpp == 32 && h.AlphaMask != 0) dropped->Alpha = true;

  std::vector<PaletteEntry> palette;
  if (h.Bpp <= 8) palette = ReadPalette(src, h);

  // Choose the bitmap's format for the stored one.
  PixelFormat format = PixelFormat::Bits24;
  Channel channels[3];
  bool generic = false;
  switch (h.Bpp) {
    case 1:
      format = PixelFormat::Bits1;
      break;
    case 2:
    case 4:
      format = PixelFormat::Bits4;
      break;
    case 8:
      format = PixelFormat::Bits8;
      break;
    case 16:
      format = PixelFormat::Bits16_555;
      if (h.HasMasks) {
        const uint32_t* m = h.Masks;
        if (m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F) {
          format = PixelFormat::Bits16_555;
        } else if (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F) {
          format = PixelFormat::Bits16_565;
        } else {
          generic = true;
        }
      }
      break;
    case 24:
      format = PixelFormat::Bits24;
      break;
    case 32:
      format = PixelFormat::Bits32;
      if (h.HasMasks && !(h.Masks[0] == 0xFF0000 && h.Masks[1] == 0xFF00 && h.Masks[2] == 0xFF)) {
        generic = true;
      }
      break;
  }
  if (generic) {
    const uint32_t limit = h.Bpp == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (int i = 0; i < 3; ++i) {
      if ((h.Masks[i] & ~limit) != 0) Bad("a colour mask exceeds the pixel");
      channels[i] = MakeChannel(h.Masks[i]);
    }
    if ((h.Masks[0] & h.Masks[1]) != 0 || (h.Masks[0] & h.Masks[2]) != 0 ||
        (h.Masks[1] & h.Masks[2]) != 0) {
      Bad("the colour masks overlap");
    }
    format = PixelFormat::Bits24;
  }

  // Rows handed on one by one need only one row of their own.
  const bool stream = limits.Rows && !rle;
  Bitmap bitmap(h.Width, stream ? 1 : h.Height, format);
  bitmap.SetPalette(std::move(palette));

  if (rle) {
    DecodeRle(src, h, bitmap, limits);
    return bitmap;
  }

  src.Seek(h.PixelOffset);
  std::vector<uint8_t> in(static_cast<std::size_t>(stride));
  const auto width = static_cast<std::size_t>(h.Width);
  for (int32_t fileRow = 0; fileRow < h.Height; ++fileRow) {
    src.ReadNext(in.data(), in.size());
    const int32_t y = h.TopDown ? fileRow : h.Height - 1 - fileRow;
    const auto out = bitmap.ScanLine(stream ? 0 : y);
    if (h.Bpp == 2) {
      for (std::size_t x = 0; x < width; ++x) {
        const int index = (in[x / 4] >> (6 - 2 * (x % 4))) & 3;
        out[x / 2] = x % 2 == 0 ? static_cast<uint8_t>(index << 4)
                                : static_cast<uint8_t>(out[x / 2] | index);
      }
    } else if (generic) {
      const std::size_t step = static_cast<std::size_t>(h.Bpp / 8);
      for (std::size_t x = 0; x < width; ++x) {
        const uint8_t* p = in.data() + x * step;
        const uint32_t v = step == 2 ? U16(p) : U32(p);
        out[3 * x] = channels[2].Extract(v);
        out[3 * x + 1] = channels[1].Extract(v);
        out[3 * x + 2] = channels[0].Extract(v);
      }
    } else {
      // Same layout as the bitmap's rows: copy the used bytes, leave the padding zero.
      const std::size_t used = (width * static_cast<std::size_t>(h.Bpp) + 7) / 8;
      std::memcpy(out.data(), in.data(), used);
    }
    if (stream) limits.Rows(y, bitmap);
    RowDecoded(limits, fileRow, h.Height);
  }
  return bitmap;
}

void EncodeBmp(std::FILE* file, const Bitmap& bitmap) {
  if (bitmap.IsEmpty()) throw Error(ErrorKind::EmptyPicture, {});
  const PixelFormat format = bitmap.Format();
  const int bpp = BitsPerPixel(format);
  const bool masks = format == PixelFormat::Bits16_565;
  std::vector<PaletteEntry> palette;
  if (HasPalette(format)) {
    palette = bitmap.Palette();
    if (palette.size() > (std::size_t{1} << bpp)) palette.resize(std::size_t{1} << bpp);
    if (palette.empty()) palette.resize(1);  // a count of 0 would mean a full palette
  }
  const uint32_t stride = static_cast<uint32_t>(Bitmap::StrideFor(bitmap.Width(), format));
  const uint32_t imageSize = stride * static_cast<uint32_t>(bitmap.Height());
  const uint32_t offset = kFileHeaderSize + kInfoHeaderSize + (masks ? 12 : 0) +
                          4 * static_cast<uint32_t>(palette.size());

  std::vector<uint8_t> head;
  auto u16 = [&](uint32_t v) {
    head.push_back(static_cast<uint8_t>(v));
    head.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  head.push_back('B');
  head.push_back('M');
  u32(offset + imageSize);
  u32(0);
  u32(offset);
  u32(kInfoHeaderSize);
  u32(static_cast<uint32_t>(bitmap.Width()));
  u32(static_cast<uint32_t>(bitmap.Height()));  // positive: rows stored bottom-up
  u16(1);
  u16(static_cast<uint32_t>(bpp));
  u32(masks ? kBitfields : kRgb);
  u32(imageSize);
  u32(3780);  // 96 dots per inch
  u32(3780);
  u32(static_cast<uint32_t>(palette.size()));
  u32(0);
  if (masks) {
    u32(0xF800);
    u32(0x07E0);
    u32(0x001F);
  }
  for (const PaletteEntry& e : palette) {
    head.push_back(e.Blue);
    head.push_back(e.Green);
    head.push_back(e.Red);
    head.push_back(0);
  }
  if (std::fwrite(head.data(), 1, head.size(), file) != head.size()) {
    throw Error(ErrorKind::WriteFailed, {}, "BMP header");
  }
  const std::size_t used = (static_cast<std::size_t>(bitmap.Width()) * bpp + 7) / 8;
  std::vector<uint8_t> row(stride, 0);
  for (int32_t y = bitmap.Height() - 1; y >= 0; --y) {
    const auto src = bitmap.ScanLine(y);
    std::copy(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(used), row.begin());
    if (std::fwrite(row.data(), 1, row.size(), file) != row.size()) {
      throw Error(ErrorKind::WriteFailed, {}, "BMP pixel data");
    }
  }
}

}  // namespace kavun::codec
