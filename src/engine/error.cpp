#include "engine/error.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace kavun {

Error::Error(const std::string& message)
    : std::runtime_error(message), kind_(ErrorKind::Other), detail_(message) {}

Error::Error(ErrorKind kind, std::string path, std::string detail)
    : std::runtime_error(EnglishErrorText(kind, path, detail)),
      kind_(kind),
      path_(std::move(path)),
      detail_(std::move(detail)) {}

Error Error::WithPath(const std::string& path) const {
  if (!path_.empty() || kind_ == ErrorKind::Other) return *this;
  const Error named(kind_, path, detail_);
  return leftOver_.empty() ? named : named.WithLeftOverFile(leftOver_);
}

Error Error::WithLeftOverFile(const std::string& file) const {
  Error error(kind_, path_, detail_);
  error.leftOver_ = file;
  // what() is fixed when an error is made: the sentence about the file goes into a new one.
  static_cast<std::runtime_error&>(error) = std::runtime_error(
      std::string(what()) + "; its unfinished temporary file \"" + file +
      "\" could not be removed (the folder does not allow it) and can be deleted");
  return error;
}

std::pair<std::string, std::string> SplitDetail(const std::string& detail) {
  const std::size_t at = detail.find(kDetailSeparator);
  if (at == std::string::npos) return {detail, std::string()};
  return {detail.substr(0, at),
          detail.substr(at + std::char_traits<char>::length(kDetailSeparator))};
}

std::string EnglishAlternatives(std::string_view words) {
  std::vector<std::string_view> list;
  for (std::size_t start = 0; start < words.size();) {
    const std::size_t end = std::min(words.find(' ', start), words.size());
    if (end > start) list.push_back(words.substr(start, end - start));
    start = end + 1;
  }
  std::string text;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) text += i + 1 == list.size() ? " or " : ", ";
    text += list[i];
  }
  return text;
}

std::string EnglishErrorText(ErrorKind kind, const std::string& path, const std::string& detail) {
  const std::string file = path.empty() ? std::string("the file") : "\"" + path + "\"";
  // For sentences about something other than the file, the file goes in front.
  const std::string about = path.empty() ? std::string() : "\"" + path + "\": ";
  const std::string more = detail.empty() ? std::string() : " (" + detail + ")";
  const auto [first, second] = SplitDetail(detail);
  switch (kind) {
    case ErrorKind::Other:
    case ErrorKind::Usage:
      return about + detail;
    case ErrorKind::FileNotFound:
      return file + " does not exist";
    case ErrorKind::PermissionDenied:
      return "permission denied for " + file;
    case ErrorKind::ReadOnlyFileSystem:
      return file + " could not be written: it is on a read-only file system";
    case ErrorKind::NotAFile:
      return file + " is not a regular file (a folder or a device?)";
    case ErrorKind::DiskFull:
      return file + " could not be written: the disk is full";
    case ErrorKind::ReadFailed:
      return file + " could not be read" + more;
    case ErrorKind::WriteFailed:
      return file + " could not be written" + more;
    case ErrorKind::FileEndsEarly:
      return file + " ends early; it may be damaged" + more;
    case ErrorKind::UnknownFileType:
      return file + " has an unknown file type" +
             (detail.empty() ? std::string() : "; use " + EnglishAlternatives(detail));
    case ErrorKind::NotThisFormat: {
      // Built by appending: GCC 12 at -O3 misreads `"." + Lower(...)` as overlapping copies.
      std::string text = file + " is not a";
      if (!first.empty()) text.append(" ").append(first);
      text.append(" picture as its extension says");
      if (!second.empty()) {
        const auto [found, extension] = SplitDetail(second);
        text.append("; it holds a ").append(found).append(" picture");
        if (!extension.empty()) text.append(": give it the extension ").append(extension);
      }
      return text;
    }
    case ErrorKind::CorruptData:
      return file + " holds damaged picture data" + more;
    case ErrorKind::UnsupportedVariant:
      return file + " is a kind of picture this program does not read" + more;
    case ErrorKind::PictureTooLarge:
      return file + " holds a picture too large for this program" + more;
    case ErrorKind::FileTooLarge:
      return file + " is too large" + more;
    case ErrorKind::EmptyPicture:
      return "a picture without pixels cannot be saved to " + file;
    case ErrorKind::OutOfMemory:
      return path.empty() ? std::string("not enough memory") : "not enough memory for " + file;
    case ErrorKind::OutsideRectangle:
      return about + "the rectangle " + first + " reaches outside the picture" +
             (second.empty() ? std::string() : " of " + second + " pixels");
    case ErrorKind::PasswordNotCp932:
      return about + "the password contains the character " + detail +
             ", which CP932 (Shift_JIS) cannot represent; use another character";
    case ErrorKind::PasswordNotUtf8:
      return about + "the password is not valid UTF-8 text" + more;
    case ErrorKind::Irreversible:
      return about + "the mosaic coefficients cannot be undone" + more;
    case ErrorKind::Interrupted:
      return about + "interrupted" + more;
    case ErrorKind::RowOutOfRange:
      return about + "row " + first + " is outside the picture" +
             (second.empty() ? std::string() : " of " + second + " rows");
    case ErrorKind::NoPassword:
      if (!path.empty()) return "no password in " + file;
      return "no password " + (detail.empty() ? std::string("was given") : detail);
    case ErrorKind::FileInUse:
      return file + " is in use by another program; close it there and try again";
  }
  return about + detail;
}

ErrorKind KindFromErrno(int error_number, bool writing) noexcept {
  switch (error_number) {
    case ENOENT:
    case ENOTDIR:
      return ErrorKind::FileNotFound;
    case EACCES:
    case EPERM:
      return ErrorKind::PermissionDenied;
    case EROFS:
      return ErrorKind::ReadOnlyFileSystem;
    case EISDIR:
      return ErrorKind::NotAFile;
    case ENOSPC:
#ifdef EDQUOT  // not on Windows
    case EDQUOT:
#endif
    case EFBIG:
      return ErrorKind::DiskFull;
    case ENOMEM:
      return ErrorKind::OutOfMemory;
    case EINTR:
      return ErrorKind::Interrupted;
    default:
      return writing ? ErrorKind::WriteFailed : ErrorKind::ReadFailed;
  }
}

const char* ErrorKindName(ErrorKind kind) noexcept {
  switch (kind) {
#define KAVUN_ERROR_KIND_NAME(name) \
  case ErrorKind::name:             \
    return #name;
    KAVUN_ERROR_KINDS(KAVUN_ERROR_KIND_NAME)
#undef KAVUN_ERROR_KIND_NAME
  }
  return "Other";
}

Error ToError(const std::exception& exception) {
  if (const auto* error = dynamic_cast<const Error*>(&exception)) return *error;
  if (dynamic_cast<const std::bad_alloc*>(&exception) != nullptr) {
    return Error(ErrorKind::OutOfMemory, "");
  }
  if (const auto* system = dynamic_cast<const std::system_error*>(&exception)) {
    const std::error_code code = system->code();
    // Only codes that are errno values say which kind (not, say, iostream's own codes).
    if (code.category() == std::generic_category() || code.category() == std::system_category()) {
      std::string path;
      if (const auto* fs = dynamic_cast<const std::filesystem::filesystem_error*>(system)) {
        path = fs->path1().string();
      }
      // Whether reading or writing failed is not known here; such a failure keeps its message.
      const ErrorKind kind = KindFromErrno(code.value(), false);
      if (kind == ErrorKind::ReadFailed) return Error(ErrorKind::Other, path, exception.what());
      return Error(kind, path, code.message());
    }
  }
  return Error(exception.what());
}

}  // namespace kavun
