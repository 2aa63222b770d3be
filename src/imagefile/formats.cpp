#include "imagefile/formats.h"

#include <cstring>

#include "engine/ascii.h"
#include "engine/error.h"
#include "imagefile/pixel_rows.h"

namespace kavun {
namespace {

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

codec::PictureSize PeekPng(std::FILE* file) {
  uint8_t head[24] = {};
  if (std::fread(head, 1, sizeof head, file) < sizeof head) return {};
  if (std::memcmp(head + 12, "IHDR", 4) != 0) return {};
  return {Be32(head + 16), Be32(head + 20)};
}

codec::PictureSize PeekBmp(std::FILE* file) {
  uint8_t head[26] = {};
  if (std::fread(head, 1, sizeof head, file) < sizeof head) return {};
  if (head[0] != 'B' || head[1] != 'M') return {};
  if (codec::LoadLE32(head + 14) == 12)
    return {codec::LoadLE16(head + 18), codec::LoadLE16(head + 20)};
  return {static_cast<int32_t>(codec::LoadLE32(head + 18)),
          static_cast<int32_t>(codec::LoadLE32(head + 22))};
}

// Walks the markers to the frame header.
codec::PictureSize PeekJpeg(std::FILE* file) {
  if (std::fseek(file, 2, SEEK_SET) != 0) return {};
  for (int markers = 0; markers < 1000; ++markers) {
    uint8_t m[4];
    if (std::fread(m, 1, 4, file) != 4 || m[0] != 0xFF) return {};
    const unsigned length = (m[2] << 8) | m[3];
    const bool frame = m[1] >= 0xC0 && m[1] <= 0xCF && m[1] != 0xC4 && m[1] != 0xC8 && m[1] != 0xCC;
    if (frame) {
      uint8_t f[5];
      if (std::fread(f, 1, 5, file) != 5) return {};
      return {(f[3] << 8) | f[4], (f[1] << 8) | f[2]};
    }
    if (length < 2 || std::fseek(file, length - 2, SEEK_CUR) != 0) return {};
  }
  return {};
}

// Generous limits: stored (uncompressed) data in the widest sample format the format has, plus
// room for metadata.
constexpr uint64_t kMaxPngFileBytes = 3 * uint64_t{kMaxBitmap24Bytes};
constexpr uint64_t kMaxJpegFileBytes = 3 * uint64_t{kMaxBitmap24Bytes};
constexpr uint64_t kMaxBmpFileBytes = 3 * uint64_t{kMaxBitmap24Bytes} / 2;

// In the order of PictureFormatId.
constexpr PictureFormat kFormats[] = {
    {PictureFormatId::Png,
     "PNG",
     "PNG",
     {".png"},
     false,
     codec::DecodePng,
     codec::EncodePng,
     kMaxPngFileBytes,
     PeekPng},
    {PictureFormatId::Jpeg,
     "JPEG",
     "JPEG",
     {".jpg", ".jpeg"},
     true,
     codec::DecodeJpeg,
     codec::EncodeJpeg,
     kMaxJpegFileBytes,
     PeekJpeg},
    {PictureFormatId::Bmp,
     "BMP",
     "Bitmap",
     {".bmp"},
     false,
     codec::DecodeBmp,
     codec::EncodeBmp,
     kMaxBmpFileBytes,
     PeekBmp},
};

constexpr bool RowsInIdOrder() {
  for (std::size_t i = 0; i < std::size(kFormats); ++i) {
    if (static_cast<std::size_t>(kFormats[i].Id) != i || kFormats[i].Extensions[0].empty()) {
      return false;
    }
  }
  return true;
}
static_assert(RowsInIdOrder());

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != b[i]) return false;
  }
  return true;
}

}  // namespace

std::span<const PictureFormat> PictureFormats() {
  return kFormats;
}

const PictureFormat& FormatRow(PictureFormatId id) {
  return kFormats[static_cast<std::size_t>(id)];
}

const PictureFormat* FormatOfExtension(std::string_view extension) {
  for (const PictureFormat& format : kFormats) {
    for (const std::string_view known : format.Extensions) {
      if (!known.empty() && SameIgnoringCase(extension, known)) return &format;
    }
  }
  return nullptr;
}

const PictureFormat* FormatOfPath(std::string_view path) {
  return FormatOfExtension(FileExtension(path));
}

const PictureFormat* FormatNamed(std::string_view name) {
  for (const PictureFormat& format : kFormats) {
    if (name == format.Name) return &format;
  }
  return nullptr;
}

std::string AcceptedExtensions() {
  std::string list;
  for (const PictureFormat& format : kFormats) {
    for (const std::string_view extension : format.Extensions) {
      if (extension.empty()) continue;
      if (!list.empty()) list += ' ';
      list += extension;
    }
  }
  return list;
}

const PictureFormat& FormatForPath(const std::string& path) {
  const PictureFormat* format = FormatOfPath(path);
  if (format == nullptr) throw Error(ErrorKind::UnknownFileType, path, AcceptedExtensions());
  return *format;
}

}  // namespace kavun
