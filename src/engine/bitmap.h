#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kavun {

enum class PixelFormat : uint8_t {
  Bits1,       // palette of up to 2 entries, leftmost pixel in the most significant bit
  Bits4,       // palette of up to 16 entries, leftmost pixel in the high nibble
  Bits8,       // palette of up to 256 entries
  Bits16_555,  // little-endian words, x-r5-g5-b5
  Bits16_565,  // little-endian words, r5-g6-b5
  Bits24,      // blue, green, red
  Bits32,      // blue, green, red, unused
};

int BitsPerPixel(PixelFormat format) noexcept;
bool HasPalette(PixelFormat format) noexcept;

struct PaletteEntry {
  uint8_t Blue = 0;
  uint8_t Green = 0;
  uint8_t Red = 0;
  friend constexpr bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};

// Largest picture the program accepts: each side at most this many pixels...
inline constexpr int32_t kMaxBitmapSide = 65535;
// ...and its 24-bit form at most this many bytes.
inline constexpr std::size_t kMaxBitmap24Bytes = std::size_t{1} << 30;

// Throws Error unless a picture of this size may be held (see the two limits above).
void CheckBitmapSize(int64_t width, int64_t height);

// Zero-filled pixel bytes from calloc. A large buffer's pages are mapped only when first written,
// so a picture costs the memory of the rows that are actually filled: a file that ends early or
// leaves most of its picture at index 0 (an RLE bitmap's end marker) does not cost the whole
// picture.
class PixelBuffer {
 public:
  PixelBuffer() = default;
  explicit PixelBuffer(std::size_t size);  // throws std::bad_alloc
  PixelBuffer(const PixelBuffer& other);
  PixelBuffer& operator=(const PixelBuffer& other);
  PixelBuffer(PixelBuffer&& other) noexcept;
  PixelBuffer& operator=(PixelBuffer&& other) noexcept;
  ~PixelBuffer();

  uint8_t* data() noexcept { return data_; }
  const uint8_t* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }

 private:
  uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// The working raster image: width, height, pixel format, palette and pixel rows. Rows are stored
// top-down, each padded to a multiple of 4 bytes; the padding belongs to no pixel.
class Bitmap {
 public:
  Bitmap() = default;  // no pixels: width and height 0
  // A zero-filled bitmap. Throws Error for negative or oversized dimensions.
  Bitmap(int32_t width, int32_t height, PixelFormat format);

  int32_t Width() const noexcept { return width_; }
  int32_t Height() const noexcept { return height_; }
  bool IsEmpty() const noexcept { return width_ == 0 || height_ == 0; }
  PixelFormat Format() const noexcept { return format_; }
  std::size_t Stride() const noexcept { return stride_; }
  static std::size_t StrideFor(int32_t width, PixelFormat format) noexcept;

  const std::vector<PaletteEntry>& Palette() const noexcept { return palette_; }
  void SetPalette(std::vector<PaletteEntry> palette);

  // The bytes of row y (Stride() of them, padding included). Throws Error for a row outside
  // 0..Height()-1.
  std::span<uint8_t> ScanLine(int32_t y);
  std::span<const uint8_t> ScanLine(int32_t y) const;

  // All rows, top row first.
  std::span<uint8_t> Bits() noexcept { return {pixels_.data(), pixels_.size()}; }
  std::span<const uint8_t> Bits() const noexcept { return {pixels_.data(), pixels_.size()}; }

  // The displayed colour of pixel (x, y) in any format. A palette index without an entry is
  // black. No range check.
  PaletteEntry PixelColor(int32_t x, int32_t y) const noexcept;

  // Brings the pixels to 24 bits per pixel with the colours they are displayed in. A bitmap that
  // is already 24-bit stays byte for byte as it is.
  void ConvertTo24();

  // Drops the pixels: width and height 0.
  void Clear() noexcept;

 private:
  int32_t width_ = 0;
  int32_t height_ = 0;
  PixelFormat format_ = PixelFormat::Bits24;
  std::size_t stride_ = 0;
  std::vector<PaletteEntry> palette_;
  PixelBuffer pixels_;
};

}  // namespace kavun
