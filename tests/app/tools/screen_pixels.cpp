#include "screen_pixels.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/rect.h"
#include "imagefile/imagefile.h"

namespace {

struct Rgb {
  uint8_t R = 0, G = 0, B = 0;
  bool operator==(const Rgb&) const = default;
};

// The screen as Xvfb keeps it: an XWD file of 32-bit pixels, least significant byte first
// (blue, green, red, unused).
class TScreen {
 public:
  explicit TScreen(const char* path) {
    std::ifstream in(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes_.size() < 100) throw std::runtime_error(std::string(path) + ": not an XWD file");
    width_ = Field(16);
    height_ = Field(20);
    if (Field(44) != 32) throw std::runtime_error(std::string(path) + ": not 32 bits per pixel");
    if (Field(28) != 0) throw std::runtime_error(std::string(path) + ": not LSB first");
    stride_ = Field(48);
    data_ = uint64_t{Field(0)} + uint64_t{Field(76)} * 12;
    if (data_ + uint64_t{stride_} * height_ > bytes_.size()) {
      throw std::runtime_error(std::string(path) + ": shorter than its header says");
    }
  }
  int32_t Width() const { return static_cast<int32_t>(width_); }
  int32_t Height() const { return static_cast<int32_t>(height_); }
  bool Contains(int32_t x, int32_t y) const {
    return x >= 0 && y >= 0 && x < Width() && y < Height();
  }
  Rgb Pixel(int32_t x, int32_t y) const {
    const uint8_t* p = &bytes_[data_ + uint64_t(y) * stride_ + uint64_t(x) * 4];
    return {p[2], p[1], p[0]};
  }

 private:
  uint32_t Field(size_t offset) const {  // big-endian
    const uint8_t* p = &bytes_[offset];
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  }
  std::vector<uint8_t> bytes_;
  uint32_t width_ = 0, height_ = 0, stride_ = 0;
  uint64_t data_ = 0;
};

Rgb PixelOf(const kavun::Bitmap& picture, int32_t x, int32_t y) {
  const kavun::PaletteEntry c = picture.PixelColor(x, y);
  return {c.Red, c.Green, c.Blue};
}

int32_t Number(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') throw std::runtime_error(std::string("not a number: ") + text);
  return static_cast<int32_t>(value);
}

int Size(const char* picturePath) {
  const kavun::Bitmap picture = kavun::LoadImageFile(picturePath);
  std::printf("%d %d\n", picture.Width(), picture.Height());
  return 0;
}

int FindOnScreen(const char* screenPath, const char* picturePath) {
  const TScreen screen(screenPath);
  const kavun::Bitmap picture = kavun::LoadImageFile(picturePath);
  const int32_t w = picture.Width(), h = picture.Height();
  const Rgb first = PixelOf(picture, 0, 0);
  for (int32_t y = 0; y < screen.Height(); ++y) {
    for (int32_t x = 0; x < screen.Width(); ++x) {
      if (!(screen.Pixel(x, y) == first)) continue;
      // The first pixel of that colour is the place, or the picture is not shown (yet).
      for (const int32_t cx : {0, w - 1}) {
        for (const int32_t cy : {0, h - 1}) {
          if (!screen.Contains(x + cx, y + cy) ||
              !(screen.Pixel(x + cx, y + cy) == PixelOf(picture, cx, cy))) {
            return 1;
          }
        }
      }
      std::printf("%d %d\n", x, y);
      return 0;
    }
  }
  return 1;
}

int ScreenDigest(const char* screenPath, const kavun::TRect& r) {
  const TScreen screen(screenPath);
  uint64_t digest = 14695981039346656037u;  // FNV-1a
  for (int32_t y = r.Top; y < r.Bottom; ++y) {
    for (int32_t x = r.Left; x < r.Right; ++x) {
      if (!screen.Contains(x, y)) continue;
      const Rgb c = screen.Pixel(x, y);
      for (const uint8_t byte : {c.R, c.G, c.B}) {
        digest = (digest ^ byte) * 1099511628211u;
      }
    }
  }
  std::printf("%016" PRIx64 "\n", digest);
  return 0;
}

std::optional<kavun::TRect> ParseRect(const char* text) {
  kavun::TRect r{};
  char end = 0;
  if (std::sscanf(text, "%d,%d,%d,%d%c", &r.Left, &r.Top, &r.Right, &r.Bottom, &end) != 4) {
    return std::nullopt;
  }
  return r;
}

int ChangesInside(const char* beforePath, const char* afterPath, const kavun::TRect& r) {
  const kavun::Bitmap before = kavun::LoadImageFile(beforePath);
  const kavun::Bitmap after = kavun::LoadImageFile(afterPath);
  if (before.Width() != after.Width() || before.Height() != after.Height()) {
    std::printf("the pictures differ in size\n");
    return 1;
  }
  int changed = 0;
  std::string outside;
  int outsideCount = 0;
  for (int32_t y = 0; y < before.Height(); ++y) {
    for (int32_t x = 0; x < before.Width(); ++x) {
      if (PixelOf(before, x, y) == PixelOf(after, x, y)) continue;
      ++changed;
      if (x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom) continue;
      if (++outsideCount <= 5) outside += " " + std::to_string(x) + "," + std::to_string(y);
    }
  }
  if (changed == 0) {
    std::printf("no pixel changed\n");
    return 1;
  }
  if (outsideCount > 0) {
    std::printf("%d pixels outside the rectangle changed:%s\n", outsideCount, outside.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int RunPixelCommand(int argc, char** argv) {
  if (argc < 2) return -1;
  const std::string command = argv[1];
  try {
    if (command == "--size" && argc == 3) return Size(argv[2]);
    if (command == "--find-on-screen" && argc == 4) return FindOnScreen(argv[2], argv[3]);
    if (command == "--screen-digest" && argc == 7) {
      return ScreenDigest(argv[2],
                          {Number(argv[3]), Number(argv[4]), Number(argv[5]), Number(argv[6])});
    }
    if (command == "--changes-inside" && argc == 5) {
      const std::optional<kavun::TRect> r = ParseRect(argv[4]);
      if (r) return ChangesInside(argv[2], argv[3], *r);
      std::fprintf(stderr, "not a rectangle LEFT,TOP,RIGHT,BOTTOM: %s\n", argv[4]);
      return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  if (command == "--size" || command == "--find-on-screen" || command == "--screen-digest" ||
      command == "--changes-inside") {
    std::fprintf(stderr, "%s: wrong number of arguments\n", command.c_str());
    return 2;
  }
  return -1;
}
