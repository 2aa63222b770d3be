#include "engine/bitmap.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "engine/error.h"

namespace kavun {

int BitsPerPixel(PixelFormat format) noexcept {
  switch (format) {
    case PixelFormat::Bits1:
      return 1;
    case PixelFormat::Bits4:
      return 4;
    case PixelFormat::Bits8:
      return 8;
    case PixelFormat::Bits16_555:
    case PixelFormat::Bits16_565:
      return 16;
    case PixelFormat::Bits24:
      return 24;
    case PixelFormat::Bits32:
      return 32;
  }
  return 24;
}

bool HasPalette(PixelFormat format) noexcept {
  return BitsPerPixel(format) <= 8;
}

void CheckBitmapSize(int64_t width, int64_t height) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  // A negative side only comes from a damaged header.
  if (width < 0 || height < 0) throw Error(ErrorKind::CorruptData, "", "picture size " + size);
  if (width > kMaxBitmapSide || height > kMaxBitmapSide) {
    throw Error(ErrorKind::PictureTooLarge, "", size);
  }
  const auto bytes24 =
      static_cast<uint64_t>(Bitmap::StrideFor(static_cast<int32_t>(width), PixelFormat::Bits24)) *
      static_cast<uint64_t>(height);
  if (bytes24 > kMaxBitmap24Bytes) throw Error(ErrorKind::PictureTooLarge, "", size);
}

PixelBuffer::PixelBuffer(std::size_t size) : size_(size) {
  if (size == 0) return;
  data_ = static_cast<uint8_t*>(std::calloc(size, 1));
  if (data_ == nullptr) throw std::bad_alloc();
}

PixelBuffer::PixelBuffer(const PixelBuffer& other) : PixelBuffer(other.size_) {
  if (size_ != 0) std::memcpy(data_, other.data_, size_);
}

PixelBuffer& PixelBuffer::operator=(const PixelBuffer& other) {
  if (this != &other) *this = PixelBuffer(other);
  return *this;
}

PixelBuffer::PixelBuffer(PixelBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

PixelBuffer& PixelBuffer::operator=(PixelBuffer&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

PixelBuffer::~PixelBuffer() {
  std::free(data_);
}

std::size_t Bitmap::StrideFor(int32_t width, PixelFormat format) noexcept {
  const auto bits =
      static_cast<std::size_t>(width) * static_cast<std::size_t>(BitsPerPixel(format));
  return (bits + 31) / 32 * 4;
}

Bitmap::Bitmap(int32_t width, int32_t height, PixelFormat format) : format_(format) {
  CheckBitmapSize(width, height);
  width_ = width;
  height_ = height;
  stride_ = StrideFor(width, format);
  pixels_ = PixelBuffer(stride_ * static_cast<std::size_t>(height));
}

void Bitmap::SetPalette(std::vector<PaletteEntry> palette) {
  palette_ = std::move(palette);
}

namespace {
[[noreturn]] void ThrowRowOutOfRange(int32_t y, int32_t height) {
  throw Error(ErrorKind::RowOutOfRange, "",
              std::to_string(y) + kDetailSeparator + std::to_string(height));
}
}  // namespace

std::span<uint8_t> Bitmap::ScanLine(int32_t y) {
  if (y < 0 || y >= height_) ThrowRowOutOfRange(y, height_);
  return Bits().subspan(static_cast<std::size_t>(y) * stride_, stride_);
}

std::span<const uint8_t> Bitmap::ScanLine(int32_t y) const {
  if (y < 0 || y >= height_) ThrowRowOutOfRange(y, height_);
  return Bits().subspan(static_cast<std::size_t>(y) * stride_, stride_);
}

namespace {
// Widens a channel of `bits` bits to 8 bits so that the full scale maps to 255.
constexpr uint8_t Widen(uint32_t value, int bits) noexcept {
  return static_cast<uint8_t>((value << (8 - bits)) | (value >> (2 * bits - 8)));
}
}  // namespace

PaletteEntry Bitmap::PixelColor(int32_t x, int32_t y) const noexcept {
  const uint8_t* row = pixels_.data() + static_cast<std::size_t>(y) * stride_;
  const auto ux = static_cast<std::size_t>(x);
  auto from_palette = [this](std::size_t index) {
    return index < palette_.size() ? palette_[index] : PaletteEntry{};
  };
  switch (format_) {
    case PixelFormat::Bits1:
      return from_palette((row[ux / 8] >> (7 - ux % 8)) & 1u);
    case PixelFormat::Bits4:
      return from_palette(ux % 2 == 0 ? row[ux / 2] >> 4 : row[ux / 2] & 0x0Fu);
    case PixelFormat::Bits8:
      return from_palette(row[ux]);
    case PixelFormat::Bits16_555: {
      const uint32_t v = row[2 * ux] | (row[2 * ux + 1] << 8);
      return {Widen(v & 0x1F, 5), Widen((v >> 5) & 0x1F, 5), Widen((v >> 10) & 0x1F, 5)};
    }
    case PixelFormat::Bits16_565: {
      const uint32_t v = row[2 * ux] | (row[2 * ux + 1] << 8);
      return {Widen(v & 0x1F, 5), Widen((v >> 5) & 0x3F, 6), Widen((v >> 11) & 0x1F, 5)};
    }
    case PixelFormat::Bits24:
      return {row[3 * ux], row[3 * ux + 1], row[3 * ux + 2]};
    case PixelFormat::Bits32:
      return {row[4 * ux], row[4 * ux + 1], row[4 * ux + 2]};
  }
  return {};
}

void Bitmap::ConvertTo24() {
  if (format_ == PixelFormat::Bits24) return;
  const std::size_t stride24 = StrideFor(width_, PixelFormat::Bits24);
  PixelBuffer converted(stride24 * static_cast<std::size_t>(height_));
  for (int32_t y = 0; y < height_; ++y) {
    uint8_t* out = converted.data() + static_cast<std::size_t>(y) * stride24;
    for (int32_t x = 0; x < width_; ++x, out += 3) {
      const PaletteEntry c = PixelColor(x, y);
      out[0] = c.Blue;
      out[1] = c.Green;
      out[2] = c.Red;
    }
  }
  pixels_ = std::move(converted);
  stride_ = stride24;
  format_ = PixelFormat::Bits24;
  palette_.clear();
}

void Bitmap::Clear() noexcept {
  width_ = 0;
  height_ = 0;
  stride_ = 0;
  format_ = PixelFormat::Bits24;
  palette_.clear();
  pixels_ = PixelBuffer();
}

}  // namespace kavun
