#include "imagefile/imagefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include "engine/error.h"
#include "imagefile/codecs.h"

namespace kavun {
namespace codec {

void CheckDecodeSize(int64_t width, int64_t height, const DecodeLimits& limits) {
  CheckBitmapSize(width, height);
  if (limits.MaxPixels != 0 &&
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > limits.MaxPixels) {
    throw Error("The picture is too large (" + std::to_string(width) + " x " +
                std::to_string(height) + " pixels)");
  }
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

// Built by appending: GCC 12 at -O3 warns (-Wrestrict) about the overlap check inlined into
// `"literal" + std::string&&`, a false alarm that -Werror turns into a failed build.
std::string Quoted(const std::filesystem::path& path) {
  std::string quoted = "\"";
  quoted += path.string();
  quoted += '"';
  return quoted;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string ErrnoText(int error) {
  return std::generic_category().message(error);
}

}  // namespace

std::string FileExtension(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < nameStart) return {};
  return std::string(path.substr(dot));
}

Bitmap LoadImageFile(const std::filesystem::path& path) {
  const std::string where = "Cannot open " + Quoted(path) + ": ";
  const std::string ext = Lower(FileExtension(path.string()));
  Bitmap (*decode)(std::FILE*, const codec::DecodeLimits&) = nullptr;
  if (ext == ".png") {
    decode = codec::DecodePng;
  } else if (ext == ".jpg" || ext == ".jpeg") {
    decode = codec::DecodeJpeg;
  } else if (ext == ".bmp") {
    decode = codec::DecodeBmp;
  } else {
    throw Error(where + "unknown file type \"" + FileExtension(path.string()) +
                "\" (PNG, JPEG and BMP files can be opened)");
  }
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw Error(where + "it is a folder");
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) throw Error(where + ErrnoText(errno));
  try {
    return decode(file.get(), {});
  } catch (const Error& e) {
    throw Error(where + e.what());
  } catch (const std::bad_alloc&) {
    throw Error(where + "not enough memory");
  }
}

void SaveImageFile(const std::filesystem::path& path, std::string_view extension,
                   const Bitmap& bitmap) {
  const std::string where = "Cannot save " + Quoted(path) + ": ";
  const std::string ext = Lower(extension);
  void (*encode)(std::FILE*, const Bitmap&) = codec::EncodeBmp;
  if (ext == ".png") {
    encode = codec::EncodePng;
  } else if (ext == ".jpg" || ext == ".jpeg") {
    encode = codec::EncodeJpeg;
  }
  if (bitmap.IsEmpty()) throw Error(where + "the picture has no pixels");

  // Write beside the target, then rename over it: the old file survives any failure.
  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  // open(O_EXCL) with the usual 0666 lets the umask apply as for any new file (mkstemp would
  // give 0600, and reading the umask is not thread-safe).
  std::string tempName;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    static std::atomic<unsigned> counter{0};
    std::string hidden = ".";  // appended for the reason given at Quoted
    hidden += path.filename().string();
    hidden += ".kavun-";
    hidden += std::to_string(::getpid());
    hidden += '-';
    hidden += std::to_string(counter.fetch_add(1));
    tempName = (folder / hidden).string();
    fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw Error(where + "cannot create a file in the folder: " + ErrnoText(errno));
  FilePtr file(::fdopen(fd, "wb"));
  if (!file) {
    const int error = errno;
    ::close(fd);
    ::unlink(tempName.c_str());
    throw Error(where + ErrnoText(error));
  }
  auto discard = [&] {
    file.reset();
    ::unlink(tempName.c_str());
  };
  try {
    encode(file.get(), bitmap);
    if (std::fflush(file.get()) != 0 || ::fsync(::fileno(file.get())) != 0) {
      throw Error(ErrnoText(errno));
    }
    // The new file keeps the permissions of the file it replaces.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
      ::fchmod(::fileno(file.get()), old.st_mode & 07777);
    }
    std::FILE* raw = file.release();
    if (std::fclose(raw) != 0) {
      const int error = errno;
      ::unlink(tempName.c_str());
      throw Error(where + ErrnoText(error));
    }
  } catch (const Error& e) {
    discard();
    const std::string what = e.what();
    throw Error(what.rfind(where, 0) == 0 ? what : where + what);
  } catch (const std::bad_alloc&) {
    discard();
    throw Error(where + "not enough memory");
  }
  if (std::rename(tempName.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(tempName.c_str());
    throw Error(where + ErrnoText(error));
  }
}

}  // namespace kavun
