#pragma once

#include <stdexcept>
#include <string>

namespace kavun {

// What went wrong, independent of any language. Each front end words a kind in its own
// language (the window in Japanese, kavun-cli in English); what() is the English wording.
enum class ErrorKind {
  Other,               // a message composed at the throw site (Detail() holds it)
  Usage,               // bad arguments on the command line
  FileNotFound,        // the file or a folder on its path does not exist
  PermissionDenied,    // the user may not read or write the file or its folder
  NotAFile,            // a folder, FIFO, device or socket where a regular file is needed
  DiskFull,            // no space left on the device (or a quota / file-size limit reached)
  ReadFailed,          // an input/output error while reading
  WriteFailed,         // an input/output error while writing
  FileEndsEarly,       // the file is truncated
  UnknownFileType,     // the extension names no format the program reads or writes
  NotThisFormat,       // the content is not a picture of the kind the extension names
  CorruptData,         // a picture of the right kind whose data is damaged
  UnsupportedVariant,  // a valid picture of a variant the program does not read
  PictureTooLarge,     // more pixels than the program handles
  FileTooLarge,        // larger than any picture (or password file) it could hold
  EmptyPicture,        // a picture without pixels cannot be saved
  OutOfMemory,         // memory ran out
  OutsideRectangle,    // a rectangle reaching outside the picture
  PasswordNotCp932,    // a password character that CP932 cannot hold (Detail(): the character)
  PasswordNotUtf8,     // password bytes that are not UTF-8
  Irreversible,        // mosaic coefficients that cannot be undone
  Interrupted,         // a signal ended the work
};

// Every failure the engine, the file layer and the front ends report. It carries a kind, the
// file concerned (UTF-8, may be empty) and a detail: numbers, the offending character, or a
// library's own message, never a whole sentence of ours.
class Error : public std::runtime_error {
 public:
  // A message composed at the throw site; kind Other.
  explicit Error(const std::string& message);
  Error(ErrorKind kind, std::string path, std::string detail = {});

  ErrorKind Kind() const noexcept { return kind_; }
  const std::string& Path() const noexcept { return path_; }
  const std::string& Detail() const noexcept { return detail_; }

  // The same error naming `path` (kept when it already names a file).
  Error WithPath(const std::string& path) const;

 private:
  ErrorKind kind_;
  std::string path_;
  std::string detail_;
};

// The English sentence for a kind, its file and its detail (what() of an Error).
std::string EnglishErrorText(ErrorKind kind, const std::string& path, const std::string& detail);

// The kind for an errno value left by a failed open/read/write/rename: ENOENT/ENOTDIR give
// FileNotFound, EACCES/EPERM/EROFS PermissionDenied, EISDIR NotAFile, ENOSPC/EDQUOT/EFBIG
// DiskFull, ENOMEM OutOfMemory, EINTR Interrupted; anything else ReadFailed or WriteFailed
// depending on `writing`.
ErrorKind KindFromErrno(int error_number, bool writing) noexcept;

// The kind's identifier, e.g. "FileEndsEarly", for logs and test output.
const char* ErrorKindName(ErrorKind kind) noexcept;

}  // namespace kavun
