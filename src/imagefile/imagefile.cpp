#include "imagefile/imagefile.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/error.h"
#include "imagefile/codecs.h"
#include "imagefile/file_io.h"

namespace kavun {
namespace codec {

void CheckDecodeSize(int64_t width, int64_t height, const DecodeLimits& limits) {
  const auto size = [&] { return std::to_string(width) + " x " + std::to_string(height); };
  if (width < 0 || height < 0) throw Error(ErrorKind::CorruptData, {}, size());
  if (width > kMaxBitmapSide || height > kMaxBitmapSide ||
      static_cast<uint64_t>(Bitmap::StrideFor(static_cast<int32_t>(width), PixelFormat::Bits24)) *
              static_cast<uint64_t>(height) >
          kMaxBitmap24Bytes) {
    throw Error(ErrorKind::PictureTooLarge, {}, size());
  }
  CheckBitmapSize(width, height);
  if (limits.MaxPixels != 0 &&
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > limits.MaxPixels) {
    throw Error(ErrorKind::PictureTooLarge, {},
                std::to_string(width) + " x " + std::to_string(height));
  }
}

uint64_t BytesLeft(std::FILE* file) {
  const long here = std::ftell(file);
  if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return 0;
  const long end = std::ftell(file);
  if (std::fseek(file, here, SEEK_SET) != 0 || end < here) return 0;
  return static_cast<uint64_t>(end - here);
}

}  // namespace codec

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

enum class Format { Png, Jpeg, Bmp, Unknown };

Format FormatOf(std::string_view extension) {
  const std::string ext = Lower(extension);
  if (ext == ".png") return Format::Png;
  if (ext == ".jpg" || ext == ".jpeg") return Format::Jpeg;
  if (ext == ".bmp") return Format::Bmp;
  return Format::Unknown;
}

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

uint64_t Bytes24(int64_t width, int64_t height) {
  if (width <= 0 || height == 0) return 0;
  if (height < 0) height = -height;
  return static_cast<uint64_t>((width * 24 + 31) / 32 * 4) * static_cast<uint64_t>(height);
}

}  // namespace

std::string FileExtension(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < nameStart) return {};
  return std::string(path.substr(dot));
}

namespace codec {

Bitmap DecodeFile(const std::filesystem::path& path, const DecodeLimits& limits,
                  DroppedOnLoad* dropped) {
  const std::string name = path.string();
  Bitmap (*decode)(std::FILE*, const DecodeLimits&, DroppedOnLoad*) = nullptr;
  uint64_t maxBytes = 0;
  switch (FormatOf(FileExtension(name))) {
    case Format::Png:
      decode = DecodePng;
      maxBytes = kMaxPngFileBytes;
      break;
    case Format::Jpeg:
      decode = DecodeJpeg;
      maxBytes = kMaxJpegFileBytes;
      break;
    case Format::Bmp:
      decode = DecodeBmp;
      maxBytes = kMaxBmpFileBytes;
      break;
    case Format::Unknown:
      throw Error(ErrorKind::UnknownFileType, name, FileExtension(name));
  }
  if (dropped != nullptr) *dropped = {};
  try {
    if (limits.Watch != nullptr && limits.Watch->Cancelled()) {
      throw Error(ErrorKind::Interrupted, {}, "cancelled");
    }
    const InputFile file(path, maxBytes);
    // Read through the watch where the system allows it, so that a cancelled decode stops
    // inside a long read as well as between rows.
    std::FILE* const watched = OpenWatchedStream(file.Stream(), file.Size(), limits.Watch);
    struct Closer {
      std::FILE* Stream;
      ~Closer() {
        if (Stream != nullptr) std::fclose(Stream);
      }
    } closer{watched};
    return decode(watched != nullptr ? watched : file.Stream(), limits, dropped);
  } catch (const Error& e) {
    // Whatever a decoder made of its failed read, a cancelled decode is reported as such.
    if (limits.Watch != nullptr && limits.Watch->Cancelled()) {
      throw Error(ErrorKind::Interrupted, name, "cancelled");
    }
    throw e.WithPath(name);
  } catch (const std::bad_alloc&) {
    throw Error(ErrorKind::OutOfMemory, name);
  }
}

}  // namespace codec

Bitmap LoadImageFile(const std::filesystem::path& path, DroppedOnLoad* dropped,
                     DecodeWatch* watch) {
  codec::DecodeLimits limits;
  limits.Watch = watch;
  return codec::DecodeFile(path, limits, dropped);
}

void SaveImageFile(const std::filesystem::path& path, std::string_view extension,
                   const Bitmap& bitmap) {
  void (*encode)(std::FILE*, const Bitmap&) = codec::EncodeBmp;
  switch (FormatOf(extension)) {
    case Format::Png:
      encode = codec::EncodePng;
      break;
    case Format::Jpeg:
      encode = codec::EncodeJpeg;
      break;
    default:
      break;
  }
  if (bitmap.IsEmpty()) throw Error(ErrorKind::EmptyPicture, path.string());
  try {
    WriteFileSafely(path, [&](std::FILE* file) { encode(file, bitmap); });
  } catch (const Error& e) {
    throw e.WithPath(path.string());
  } catch (const std::bad_alloc&) {
    throw Error(ErrorKind::OutOfMemory, path.string());
  }
}

codec::PictureSize codec::ReadPictureSize(const std::filesystem::path& path) {
  const Format format = FormatOf(FileExtension(path.string()));
  if (format == Format::Unknown) return {};
  try {
    const InputFile file(path, 0);
    uint8_t head[30] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file.Stream());
    switch (format) {
      case Format::Png:
        if (got < 24 || std::memcmp(head + 12, "IHDR", 4) != 0) return {};
        return {Be32(head + 16), Be32(head + 20)};
      case Format::Bmp:
        if (got < 26 || head[0] != 'B' || head[1] != 'M') return {};
        if (Le32(head + 14) == 12) {
          return {head[18] | (head[19] << 8), head[20] | (head[21] << 8)};
        }
        return {static_cast<int32_t>(Le32(head + 18)), static_cast<int32_t>(Le32(head + 22))};
      case Format::Jpeg: {
        // Walk the markers to the frame header.
        if (std::fseek(file.Stream(), 2, SEEK_SET) != 0) return {};
        for (int markers = 0; markers < 1000; ++markers) {
          uint8_t m[4];
          if (std::fread(m, 1, 4, file.Stream()) != 4 || m[0] != 0xFF) return {};
          const unsigned length = (m[2] << 8) | m[3];
          const bool frame =
              m[1] >= 0xC0 && m[1] <= 0xCF && m[1] != 0xC4 && m[1] != 0xC8 && m[1] != 0xCC;
          if (frame) {
            uint8_t f[5];
            if (std::fread(f, 1, 5, file.Stream()) != 5) return {};
            return {(f[3] << 8) | f[4], (f[1] << 8) | f[2]};
          }
          if (length < 2 || std::fseek(file.Stream(), length - 2, SEEK_CUR) != 0) return {};
        }
        return {};
      }
      case Format::Unknown:
        break;
    }
  } catch (const Error&) {
  }
  return {};
}

uint64_t PictureBytes24(const std::filesystem::path& path) {
  const codec::PictureSize size = codec::ReadPictureSize(path);
  return Bytes24(size.Width, size.Height);
}

}  // namespace kavun
