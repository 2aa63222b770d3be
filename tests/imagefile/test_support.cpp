#include "test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#ifdef KAVUN_HAVE_QT
#include <QImage>
#endif

namespace kavun::test {

namespace fs = std::filesystem;

fs::path Data(const std::string& relative) {
  return fs::path(KAVUN_TEST_DATA_DIR) / relative;
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bitmap MakePicture(PixelFormat format, int32_t width, int32_t height, uint32_t seed) {
  std::mt19937 random(seed);
  Bitmap b(width, height, format);
  if (HasPalette(format)) {
    const std::size_t entries =
        (std::size_t{1} << BitsPerPixel(format)) - (format == PixelFormat::Bits1 ? 0 : 1);
    std::vector<PaletteEntry> palette(entries);
    for (auto& e : palette) {
      e = {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
           static_cast<uint8_t>(random())};
    }
    b.SetPalette(palette);
  }
  const std::size_t used = (static_cast<std::size_t>(width) * BitsPerPixel(format) + 7) / 8;
  for (int32_t y = 0; y < height; ++y) {
    auto row = b.ScanLine(y);
    for (std::size_t i = 0; i < used; ++i) row[i] = static_cast<uint8_t>(random());
    // Keep indices inside the palette and the unused bits of the last byte clear.
    const auto n = static_cast<std::size_t>(width);
    if (format == PixelFormat::Bits4) {
      for (std::size_t x = 0; x < n; ++x) {
        uint8_t& byte = row[x / 2];
        if (x % 2 == 0 && (byte >> 4) == 15) byte = static_cast<uint8_t>(byte & 0x0F);
        if (x % 2 == 1 && (byte & 0x0F) == 15) byte = static_cast<uint8_t>(byte & 0xF0);
      }
      if (n % 2 == 1) row[n / 2] &= 0xF0;
    }
    if (format == PixelFormat::Bits8) {
      for (std::size_t x = 0; x < n; ++x) row[x] = static_cast<uint8_t>(row[x] % 255);
    }
    if (format == PixelFormat::Bits1 && n % 8 != 0) {
      row[n / 8] &= static_cast<uint8_t>(0xFF << (8 - n % 8));
    }
    if (format == PixelFormat::Bits16_555) {
      for (std::size_t x = 0; x < n; ++x) row[2 * x + 1] &= 0x7F;
    }
  }
  return b;
}

Bitmap MakeSmoothPicture(PixelFormat format, int32_t width, int32_t height) {
  Bitmap b(width, height, PixelFormat::Bits24);
  for (int32_t y = 0; y < height; ++y) {
    auto row = b.ScanLine(y);
    for (int32_t x = 0; x < width; ++x) {
      row[3 * x] = static_cast<uint8_t>(40 + 2 * x);
      row[3 * x + 1] = static_cast<uint8_t>(60 + 3 * y);
      row[3 * x + 2] = static_cast<uint8_t>(200 - x - y);
    }
  }
  if (format == PixelFormat::Bits24) return b;
  Bitmap out(width, height, format);
  if (format == PixelFormat::Bits8) {
    std::vector<PaletteEntry> grey(256);
    for (int i = 0; i < 256; ++i) {
      grey[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)};
    }
    out.SetPalette(grey);
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) out.ScanLine(y)[x] = static_cast<uint8_t>(50 + x + 2 * y);
    }
    return out;
  }
  for (int32_t y = 0; y < height; ++y) {  // Bits32
    for (int32_t x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) out.ScanLine(y)[4 * x + c] = b.ScanLine(y)[3 * x + c];
      out.ScanLine(y)[4 * x + 3] = 0x5A;
    }
  }
  return out;
}

void ExpectSamePicture(const Bitmap& expected, const Bitmap& actual) {
  ASSERT_EQ(actual.Width(), expected.Width());
  ASSERT_EQ(actual.Height(), expected.Height());
  ASSERT_EQ(actual.Format(), expected.Format());
  EXPECT_EQ(actual.Palette(), expected.Palette());
  const std::size_t bits =
      static_cast<std::size_t>(expected.Width()) * BitsPerPixel(expected.Format());
  for (int32_t y = 0; y < expected.Height(); ++y) {
    const auto a = expected.ScanLine(y);
    const auto b = actual.ScanLine(y);
    for (std::size_t i = 0; i < bits / 8; ++i)
      ASSERT_EQ(a[i], b[i]) << "row " << y << " byte " << i;
    if (bits % 8 != 0) {
      const auto mask = static_cast<uint8_t>(0xFF << (8 - bits % 8));
      ASSERT_EQ(a[bits / 8] & mask, b[bits / 8] & mask) << "row " << y;
    }
  }
}

void ExpectSameColours(const Bitmap& expected, const Bitmap& actual) {
  ASSERT_EQ(actual.Width(), expected.Width());
  ASSERT_EQ(actual.Height(), expected.Height());
  for (int32_t y = 0; y < expected.Height(); ++y) {
    for (int32_t x = 0; x < expected.Width(); ++x) {
      ASSERT_EQ(actual.PixelColor(x, y), expected.PixelColor(x, y)) << x << "," << y;
    }
  }
}

int MaxChannelDifference(const Bitmap& a, const Bitmap& b) {
  int worst = 0;
  for (int32_t y = 0; y < a.Height(); ++y) {
    for (int32_t x = 0; x < a.Width(); ++x) {
      const PaletteEntry p = a.PixelColor(x, y);
      const PaletteEntry q = b.PixelColor(x, y);
      worst = std::max(
          {worst, std::abs(p.Red - q.Red), std::abs(p.Green - q.Green), std::abs(p.Blue - q.Blue)});
    }
  }
  return worst;
}

namespace {

uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

struct Chunks {
  std::vector<uint8_t> Ihdr;
  std::vector<uint8_t> Idat;  // all IDAT data joined
  int IhdrCount = 0;
  int IdatCount = 0;
  uint32_t LargestIdat = 0;
};

Chunks ReadChunks(const std::vector<uint8_t>& file) {
  Chunks c;
  if (file.size() < 8) throw std::runtime_error("not a PNG");
  std::size_t pos = 8;
  while (pos + 12 <= file.size()) {
    const uint32_t length = Be32(&file[pos]);
    const std::string type(file.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                           file.begin() + static_cast<std::ptrdiff_t>(pos + 8));
    const uint8_t* data = &file[pos + 8];
    if (type == "IHDR") {
      ++c.IhdrCount;
      c.Ihdr.assign(data, data + length);
    } else if (type == "IDAT") {
      ++c.IdatCount;
      c.LargestIdat = std::max(c.LargestIdat, length);
      c.Idat.insert(c.Idat.end(), data, data + length);
    }
    pos += 12 + length;
  }
  return c;
}

std::vector<uint8_t> Inflate(const std::vector<uint8_t>& in, std::size_t expected) {
  std::vector<uint8_t> out(expected);
  uLongf size = static_cast<uLongf>(expected);
  if (uncompress(out.data(), &size, in.data(), static_cast<uLong>(in.size())) != Z_OK ||
      size != expected) {
    throw std::runtime_error("IDAT data does not inflate to the expected size");
  }
  return out;
}

}  // namespace

PngLayout ReadPngLayout(const std::vector<uint8_t>& file) {
  const Chunks c = ReadChunks(file);
  PngLayout l;
  l.IhdrCount = c.IhdrCount;
  l.IdatCount = c.IdatCount;
  l.LargestIdat = c.LargestIdat;
  if (c.Ihdr.size() != 13 || c.Idat.size() < 2) return l;
  const uint32_t width = Be32(&c.Ihdr[0]);
  const uint32_t height = Be32(&c.Ihdr[4]);
  l.BitDepth = c.Ihdr[8];
  l.ColorType = c.Ihdr[9];
  l.Interlace = c.Ihdr[12];
  l.ZlibLevelBits = c.Idat[1] >> 6;
  const int channels = l.ColorType == 2 ? 3 : l.ColorType == 6 ? 4 : 1;
  const std::size_t rowBytes = (static_cast<std::size_t>(width) * channels * l.BitDepth + 7) / 8;
  const auto raw = Inflate(c.Idat, (rowBytes + 1) * height);
  for (uint32_t y = 0; y < height; ++y) l.RowFilters.push_back(raw[y * (rowBytes + 1)]);
  l.Data = raw;
  return l;
}

void PatchPngSize(std::vector<uint8_t>& file, uint32_t width, uint32_t height) {
  for (int i = 0; i < 4; ++i) {
    file[16 + i] = static_cast<uint8_t>(width >> (24 - 8 * i));
    file[20 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
  }
  const uLong crc = crc32(0, &file[12], 17);
  for (int i = 0; i < 4; ++i) file[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

std::vector<uint8_t> DecodeRawPngRgba8(const fs::path& path) {
  const Chunks c = ReadChunks(ReadBytes(path));
  if (c.Ihdr.size() != 13 || c.Ihdr[8] != 8 || c.Ihdr[9] != 6 || c.Ihdr[12] != 0) return {};
  const uint32_t width = Be32(&c.Ihdr[0]);
  const uint32_t height = Be32(&c.Ihdr[4]);
  const std::size_t rowBytes = 4 * static_cast<std::size_t>(width);
  const auto raw = Inflate(c.Idat, (rowBytes + 1) * height);
  std::vector<uint8_t> out(rowBytes * height);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t filter = raw[y * (rowBytes + 1)];
    const uint8_t* in = &raw[y * (rowBytes + 1) + 1];
    uint8_t* row = &out[y * rowBytes];
    const uint8_t* up = y > 0 ? &out[(y - 1) * rowBytes] : nullptr;
    for (std::size_t i = 0; i < rowBytes; ++i) {
      const int a = i >= 4 ? row[i - 4] : 0;
      const int b = up != nullptr ? up[i] : 0;
      const int cc = (up != nullptr && i >= 4) ? up[i - 4] : 0;
      int predictor = 0;
      switch (filter) {
        case 1:
          predictor = a;
          break;
        case 2:
          predictor = b;
          break;
        case 3:
          predictor = (a + b) / 2;
          break;
        case 4: {
          const int p = a + b - cc;
          const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - cc);
          predictor = (pa <= pb && pa <= pc) ? a : pb <= pc ? b : cc;
          break;
        }
        default:
          break;
      }
      row[i] = static_cast<uint8_t>(in[i] + predictor);
    }
  }
  return out;
}

JpegLayout ReadJpegLayout(const std::vector<uint8_t>& file) {
  JpegLayout l;
  std::size_t pos = 2;
  while (pos + 4 <= file.size() && file[pos] == 0xFF) {
    const uint8_t marker = file[pos + 1];
    const std::size_t length = (file[pos + 2] << 8) | file[pos + 3];
    const uint8_t* data = &file[pos + 4];
    if (marker == 0xC0) {
      l.Baseline = true;
      l.Components = data[5];
    } else if (marker == 0xC2) {
      l.Progressive = true;
    } else if (marker == 0xDB) {
      std::size_t at = 0;
      while (at < length - 2) {
        const int precision = data[at] >> 4;
        ++l.QuantTables;
        for (int k = 0; k < 64; ++k) {
          const int q = precision == 0 ? data[at + 1 + k]
                                       : (data[at + 1 + 2 * k] << 8) | data[at + 2 + 2 * k];
          if (q != 1) l.AllQuantOnes = false;
        }
        at += 1 + 64 * (precision == 0 ? 1 : 2);
      }
    } else if (marker == 0xDA) {
      break;
    }
    pos += 2 + length;
  }
  return l;
}

void PatchJpegSize(std::vector<uint8_t>& file, uint16_t width, uint16_t height) {
  for (std::size_t pos = 2; pos + 9 < file.size(); ++pos) {
    if (file[pos] == 0xFF && file[pos + 1] == 0xC0) {
      file[pos + 5] = static_cast<uint8_t>(height >> 8);
      file[pos + 6] = static_cast<uint8_t>(height);
      file[pos + 7] = static_cast<uint8_t>(width >> 8);
      file[pos + 8] = static_cast<uint8_t>(width);
      return;
    }
  }
}

void WriteGreyJpeg(const fs::path& path, int width, int height) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  std::FILE* f = std::fopen(path.string().c_str(), "wb");
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 1;
  cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(10 * x + y);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(f);
}

#ifdef KAVUN_HAVE_QT
bool HaveIndependentReader() {
  return true;
}

void ExpectMatchesIndependentReader(const Bitmap& ours, const fs::path& file, int tolerance) {
  QImage image(QString::fromStdString(file.string()));
  ASSERT_FALSE(image.isNull()) << "Qt cannot read " << file;
  image = image.convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(ours.Width(), image.width());
  ASSERT_EQ(ours.Height(), image.height());
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      const int a = qAlpha(p);
      auto flat = [a](int v) { return (v * a + 255 * (255 - a) + 127) / 255; };
      const PaletteEntry c = ours.PixelColor(x, y);
      ASSERT_NEAR(c.Red, flat(qRed(p)), tolerance) << x << "," << y;
      ASSERT_NEAR(c.Green, flat(qGreen(p)), tolerance) << x << "," << y;
      ASSERT_NEAR(c.Blue, flat(qBlue(p)), tolerance) << x << "," << y;
    }
  }
}
#else
bool HaveIndependentReader() {
  return false;
}
void ExpectMatchesIndependentReader(const Bitmap&, const fs::path&, int) {}
#endif

}  // namespace kavun::test
