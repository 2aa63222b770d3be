#include "imagefile/imagefile.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/error.h"
#include "imagefile/codecs.h"
#include "imagefile/file_io.h"
#include "imagefile/formats.h"

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

// A picture of another format under a wrong extension ("BMP / JPEG" from the decoder) gets the
// extension that format's files have, for the message to suggest ("BMP / JPEG / .jpg").
Error WithExtensionHint(const Error& error) {
  if (error.Kind() != ErrorKind::NotThisFormat) return error;
  const auto [expected, found] = SplitDetail(error.Detail());
  const PictureFormat* format = FormatNamed(found);
  if (format == nullptr) return error;
  return Error(error.Kind(), error.Path(),
               error.Detail() + kDetailSeparator + std::string(format->Extensions[0]));
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
  const PictureFormat& format = FormatForPath(name);
  if (dropped != nullptr) *dropped = {};
  try {
    if (limits.Watch != nullptr && limits.Watch->Cancelled()) {
      throw Error(ErrorKind::Interrupted, {}, "cancelled");
    }
    const InputFile file(path, format.MaxFileBytes);
    // Read through the watch where the system allows it, so that a cancelled decode stops
    // inside a long read as well as between rows.
    std::FILE* const watched = OpenWatchedStream(file.Stream(), file.Size(), limits.Watch);
    struct Closer {
      std::FILE* Stream;
      ~Closer() {
        if (Stream != nullptr) std::fclose(Stream);
      }
    } closer{watched};
    return format.Decode(watched != nullptr ? watched : file.Stream(), limits, dropped);
  } catch (const Error& e) {
    // Whatever a decoder made of its failed read, a cancelled decode is reported as such.
    if (limits.Watch != nullptr && limits.Watch->Cancelled()) {
      throw Error(ErrorKind::Interrupted, name, "cancelled");
    }
    throw WithExtensionHint(e).WithPath(name);
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
  // An extension that names no format is written as BMP: the window's save dialog always
  // gives one that does, and kavun-cli refuses any other before it starts.
  const PictureFormat* format = FormatOfExtension(extension);
  void (*encode)(std::FILE*, const Bitmap&) =
      (format != nullptr ? *format : FormatRow(PictureFormatId::Bmp)).Encode;
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
  const PictureFormat* format = FormatOfPath(path.string());
  if (format == nullptr) return {};
  try {
    const InputFile file(path, 0);
    return format->PeekSize(file.Stream());
  } catch (const Error&) {
  }
  return {};
}

uint64_t PictureBytes24(const std::filesystem::path& path) {
  const codec::PictureSize size = codec::ReadPictureSize(path);
  return Bytes24(size.Width, size.Height);
}

}  // namespace kavun
