#include "engine/error.h"

#include <cerrno>
#include <utility>

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
  return Error(kind_, path, detail_);
}

std::string EnglishErrorText(ErrorKind kind, const std::string& path, const std::string& detail) {
  const std::string file = path.empty() ? std::string("the file") : "\"" + path + "\"";
  const std::string more = detail.empty() ? std::string() : " (" + detail + ")";
  switch (kind) {
    case ErrorKind::Other:
      return detail;
    case ErrorKind::Usage:
      return detail;
    case ErrorKind::FileNotFound:
      return file + " does not exist";
    case ErrorKind::PermissionDenied:
      return "permission denied for " + file + more;
    case ErrorKind::NotAFile:
      return file + " is not a regular file" + more;
    case ErrorKind::DiskFull:
      return file + " could not be written: the disk is full" + more;
    case ErrorKind::ReadFailed:
      return file + " could not be read" + more;
    case ErrorKind::WriteFailed:
      return file + " could not be written" + more;
    case ErrorKind::FileEndsEarly:
      return file + " ends early; it may be damaged" + more;
    case ErrorKind::UnknownFileType:
      return file + " has an unknown file type" + more + "; use .png, .jpg, .jpeg or .bmp";
    case ErrorKind::NotThisFormat:
      return file + " is not a picture of the kind its extension names" + more;
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
      return "not enough memory for " + file + more;
    case ErrorKind::OutsideRectangle:
      return "the rectangle " + detail + " reaches outside the picture";
    case ErrorKind::PasswordNotCp932:
      return "the password contains the character " + detail + ", which CP932 cannot represent";
    case ErrorKind::PasswordNotUtf8:
      return "the password is not valid UTF-8 text" + more;
    case ErrorKind::Irreversible:
      return "the mosaic coefficients cannot be undone" + more;
    case ErrorKind::Interrupted:
      return "interrupted" + more;
  }
  return detail;
}

ErrorKind KindFromErrno(int error_number, bool writing) noexcept {
  switch (error_number) {
    case ENOENT:
    case ENOTDIR:
      return ErrorKind::FileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return ErrorKind::PermissionDenied;
    case EISDIR:
      return ErrorKind::NotAFile;
    case ENOSPC:
    case EDQUOT:
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
    case ErrorKind::Other:
      return "Other";
    case ErrorKind::Usage:
      return "Usage";
    case ErrorKind::FileNotFound:
      return "FileNotFound";
    case ErrorKind::PermissionDenied:
      return "PermissionDenied";
    case ErrorKind::NotAFile:
      return "NotAFile";
    case ErrorKind::DiskFull:
      return "DiskFull";
    case ErrorKind::ReadFailed:
      return "ReadFailed";
    case ErrorKind::WriteFailed:
      return "WriteFailed";
    case ErrorKind::FileEndsEarly:
      return "FileEndsEarly";
    case ErrorKind::UnknownFileType:
      return "UnknownFileType";
    case ErrorKind::NotThisFormat:
      return "NotThisFormat";
    case ErrorKind::CorruptData:
      return "CorruptData";
    case ErrorKind::UnsupportedVariant:
      return "UnsupportedVariant";
    case ErrorKind::PictureTooLarge:
      return "PictureTooLarge";
    case ErrorKind::FileTooLarge:
      return "FileTooLarge";
    case ErrorKind::EmptyPicture:
      return "EmptyPicture";
    case ErrorKind::OutOfMemory:
      return "OutOfMemory";
    case ErrorKind::OutsideRectangle:
      return "OutsideRectangle";
    case ErrorKind::PasswordNotCp932:
      return "PasswordNotCp932";
    case ErrorKind::PasswordNotUtf8:
      return "PasswordNotUtf8";
    case ErrorKind::Irreversible:
      return "Irreversible";
    case ErrorKind::Interrupted:
      return "Interrupted";
  }
  return "Other";
}

}  // namespace kavun
