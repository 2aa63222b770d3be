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
#include "imagefile/pixel_rows.h"

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

// The file starts with "BM". A picture of another kind named .bmp is named, so that renaming it
// is the obvious fix.
void CheckSignature(Source& src) {
  uint8_t magic[8] = {};
  if (src.Size() < 2) EndsEarly("inside the file header");
  src.Read(0, magic, 2, "file header");
  if (magic[0] == 'B' && magic[1] == 'M') return;
  const bool jpeg = magic[0] == 0xFF && magic[1] == 0xD8;
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

// The picture's size, depth and compression from the information header `info`; the size
// checked against the program's limits.
void ReadDimensions(Header& h, const uint8_t* info) {
  int64_t width = 0;
  int64_t height = 0;
  uint16_t planes = 0;
  if (h.Core) {
    width = LoadLE16(info + 4);
    height = LoadLE16(info + 6);
    planes = LoadLE16(info + 8);
    h.Bpp = LoadLE16(info + 10);
  } else {
    width = static_cast<int32_t>(LoadLE32(info + 4));
    height = static_cast<int32_t>(LoadLE32(info + 8));
    planes = LoadLE16(info + 12);
    h.Bpp = LoadLE16(info + 14);
    h.Compression = LoadLE32(info + 16);  // zero when the OS/2 header is shorter
    h.ColorsUsed = LoadLE32(info + 32);
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
}

void CheckDepth(const Header& h) {
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
}

// Checks the compression against the depth and reads the colour masks; returns the offset of
// what follows the headers and masks (the palette).
uint64_t ReadCompression(Source& src, Header& h, const uint8_t* info, uint32_t infoSize) {
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
        for (int i = 0; i < 3; ++i) h.Masks[i] = LoadLE32(info + 40 + 4 * i);
        if (infoSize >= 56) h.AlphaMask = LoadLE32(info + 52);
      } else {
        // The masks follow the 40-byte header (a fourth, alpha, with kAlphaBitfields).
        uint8_t masks[16];
        const bool alpha = h.Compression == kAlphaBitfields;
        src.Read(afterHeader, masks, alpha ? 16 : 12, "colour masks");
        for (int i = 0; i < 3; ++i) h.Masks[i] = LoadLE32(masks + 4 * i);
        if (alpha) h.AlphaMask = LoadLE32(masks + 12);
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
  return afterHeader;
}

Header ReadHeader(Source& src) {
  CheckSignature(src);
  uint8_t file[kFileHeaderSize];
  src.Read(0, file, sizeof file, "file header");
  Header h;
  h.PixelOffset = LoadLE32(file + 10);

  uint8_t size4[4];
  src.Read(kFileHeaderSize, size4, 4, "information header");
  const uint32_t infoSize = LoadLE32(size4);
  const bool windows =
      infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 || infoSize == 124;
  h.Core = infoSize == kCoreHeaderSize;
  h.Os2v2 = !windows && infoSize >= 16 && infoSize <= 64;
  if (!windows && !h.Core && !h.Os2v2) {
    Unsupported("information header of " + std::to_string(infoSize) + " bytes");
  }
  uint8_t info[124] = {};
  src.Read(kFileHeaderSize, info, infoSize, "information header");
  ReadDimensions(h, info);
  CheckDepth(h);
  const uint64_t afterHeader = ReadCompression(src, h, info, infoSize);
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
    PutIndex(bitmap.ScanLine(static_cast<int32_t>(h.Height - 1 - y)), static_cast<std::size_t>(x),
             rle4 ? 4 : 8, index);
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

// The bitmap a BMP becomes: its own layout where the bitmap has one, 2-bit indices widened to
// 4 bits, and colours under masks of other shapes (Generic) taken apart into 24 bits.
struct BmpTarget {
  PixelFormat Format = PixelFormat::Bits24;
  bool Generic = false;
  Channel Channels[3];  // red, green, blue when Generic
};

BmpTarget ChooseTarget(const Header& h) {
  BmpTarget t;
  switch (h.Bpp) {
    case 1:
      t.Format = PixelFormat::Bits1;
      break;
    case 2:
    case 4:
      t.Format = PixelFormat::Bits4;
      break;
    case 8:
      t.Format = PixelFormat::Bits8;
      break;
    case 16:
      t.Format = PixelFormat::Bits16_555;
      if (h.HasMasks) {
        const uint32_t* m = h.Masks;
        if (m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F) {
          t.Format = PixelFormat::Bits16_555;
        } else if (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F) {
          t.Format = PixelFormat::Bits16_565;
        } else {
          t.Generic = true;
        }
      }
      break;
    case 24:
      t.Format = PixelFormat::Bits24;
      break;
    case 32:
      t.Format = PixelFormat::Bits32;
      if (h.HasMasks && !(h.Masks[0] == 0xFF0000 && h.Masks[1] == 0xFF00 && h.Masks[2] == 0xFF)) {
        t.Generic = true;
      }
      break;
  }
  if (t.Generic) {
    const uint32_t limit = h.Bpp == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (int i = 0; i < 3; ++i) {
      if ((h.Masks[i] & ~limit) != 0) Bad("a colour mask exceeds the pixel");
      t.Channels[i] = MakeChannel(h.Masks[i]);
    }
    if ((h.Masks[0] & h.Masks[1]) != 0 || (h.Masks[0] & h.Masks[2]) != 0 ||
        (h.Masks[1] & h.Masks[2]) != 0) {
      Bad("the colour masks overlap");
    }
    t.Format = PixelFormat::Bits24;
  }
  return t;
}

bool IsRle(const Header& h) {
  return h.Compression == kRle4 || h.Compression == kRle8;
}

// The bytes of one stored row, padded to a multiple of four.
uint64_t StoredStride(const Header& h) {
  return (static_cast<uint64_t>(h.Width) * static_cast<uint64_t>(h.Bpp) + 31) / 32 * 4;
}

// Uncompressed rows must all be in the file: checked before the picture is allocated.
void CheckRowsInFile(const Source& src, const Header& h) {
  if (!IsRle(h) && StoredStride(h) * static_cast<uint64_t>(h.Height) > src.Size() - h.PixelOffset) {
    EndsEarly("shorter than its " + std::to_string(h.Height) + " rows of pixels");
  }
}

// One stored row (`in`) into the bitmap's row `out`.
void StoreRow(const Header& h, const BmpTarget& target, const uint8_t* in, std::span<uint8_t> out) {
  const auto width = static_cast<std::size_t>(h.Width);
  if (h.Bpp == 2) {
    WidenTwoBitRow(in, out, width);
  } else if (target.Generic) {
    const std::size_t step = static_cast<std::size_t>(h.Bpp / 8);
    for (std::size_t x = 0; x < width; ++x) {
      const uint8_t* p = in + x * step;
      const uint32_t v = step == 2 ? LoadLE16(p) : LoadLE32(p);
      out[3 * x] = target.Channels[2].Extract(v);
      out[3 * x + 1] = target.Channels[1].Extract(v);
      out[3 * x + 2] = target.Channels[0].Extract(v);
    }
  } else {
    // Same layout as the bitmap's rows: copy the used bytes, leave the padding zero.
    std::memcpy(out.data(), in, PackedRowBytes(width, h.Bpp));
  }
}

// The uncompressed rows in the order they are stored (bottom-up unless TopDown).
void ReadRows(Source& src, const Header& h, const BmpTarget& target, Bitmap& bitmap, bool stream,
              const DecodeLimits& limits) {
  src.Seek(h.PixelOffset);
  std::vector<uint8_t> in(static_cast<std::size_t>(StoredStride(h)));
  for (int32_t fileRow = 0; fileRow < h.Height; ++fileRow) {
    src.ReadNext(in.data(), in.size());
    const int32_t y = h.TopDown ? fileRow : h.Height - 1 - fileRow;
    StoreRow(h, target, in.data(), bitmap.ScanLine(stream ? 0 : y));
    if (stream) limits.Rows(y, bitmap);
    RowDecoded(limits, fileRow, h.Height);
  }
}

}  // namespace

Bitmap DecodeBmp(std::FILE* file, const DecodeLimits& limits, DroppedOnLoad* dropped) {
  Source src(file);
  const Header h = ReadHeader(src);
  CheckDecodeSize(h.Width, h.Height, limits);
  CheckRowsInFile(src, h);
  if (dropped != nullptr && h.Bpp == 32 && h.AlphaMask != 0) dropped->Alpha = true;

  std::vector<PaletteEntry> palette;
  if (h.Bpp <= 8) palette = ReadPalette(src, h);
  const BmpTarget target = ChooseTarget(h);

  // Rows handed on one by one need only one row of their own.
  const bool stream = limits.Rows && !IsRle(h);
  Bitmap bitmap(h.Width, stream ? 1 : h.Height, target.Format);
  bitmap.SetPalette(std::move(palette));
  if (IsRle(h)) {
    DecodeRle(src, h, bitmap, limits);
  } else {
    ReadRows(src, h, target, bitmap, stream, limits);
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
  const std::size_t used = PackedRowBytes(static_cast<std::size_t>(bitmap.Width()), bpp);
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
