#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace kavun {

// What went wrong, independent of any language. Each front end words a kind in its own
// language (the window in Japanese, kavun-cli in English); what() is the English wording.
// The one list of kinds: the enum, kAllErrorKinds and ErrorKindName are made from it. The
// comment before each kind says what its Detail() holds; an empty detail is always allowed.
#define KAVUN_ERROR_KINDS(X)                                                                     \
  /* a message composed at the throw site (Detail() holds it whole) */                           \
  X(Other)                                                                                       \
  /* bad arguments on the command line (Detail(): the English sentence) */                       \
  X(Usage)                                                                                       \
  /* the file or a folder on its path does not exist */                                          \
  X(FileNotFound)                                                                                \
  /* the user may not read or write the file or its folder */                                    \
  X(PermissionDenied)                                                                            \
  /* the file or its folder is on a file system mounted read-only */                             \
  X(ReadOnlyFileSystem)                                                                          \
  /* a folder, FIFO, device or socket where a regular file is needed */                          \
  X(NotAFile)                                                                                    \
  /* no space left on the device (or a quota / file-size limit reached) */                       \
  X(DiskFull)                                                                                    \
  /* an input/output error while reading (Detail(): the system's message) */                     \
  X(ReadFailed)                                                                                  \
  /* an input/output error while writing (Detail(): the system's message) */                     \
  X(WriteFailed)                                                                                 \
  /* the file is truncated (Detail(): where it ends, or a library's message) */                  \
  X(FileEndsEarly)                                                                               \
  /* the extension names no format the program reads or writes (Detail(): the extensions it */   \
  /* takes, separated by blanks) */                                                              \
  X(UnknownFileType)                                                                             \
  /* the content is not a picture of the kind the extension names (Detail(): the format */       \
  /* expected, e.g. "BMP", and when the content is a picture of another kind, that kind and */   \
  /* the extension it should have, each after kDetailSeparator: "BMP / JPEG / .jpg") */          \
  X(NotThisFormat)                                                                               \
  /* a picture of the right kind whose data is damaged (Detail(): a library's message) */        \
  X(CorruptData)                                                                                 \
  /* a valid picture of a variant the program does not read (Detail(): which variant, e.g. */    \
  /* "CMYK JPEG", "BMP compression 4") */                                                        \
  X(UnsupportedVariant)                                                                          \
  /* more pixels than the program handles (Detail(): "W x H pixels") */                          \
  X(PictureTooLarge)                                                                             \
  /* larger than any picture (or password file) it could hold (Detail(): its size in bytes, */   \
  /* or "more than N" for a file that grew while it was read) */                                 \
  X(FileTooLarge)                                                                                \
  /* a picture without pixels cannot be saved */                                                 \
  X(EmptyPicture)                                                                                \
  /* memory ran out */                                                                           \
  X(OutOfMemory)                                                                                 \
  /* a rectangle reaching outside the picture (Detail(): "L,T,R,B" and the picture's "W x H", */ \
  /* joined by kDetailSeparator) */                                                              \
  X(OutsideRectangle)                                                                            \
  /* a password character that CP932 cannot hold (Detail(): the character in quotes and its */   \
  /* code point, "\"X\" (U+1F600)") */                                                           \
  X(PasswordNotCp932)                                                                            \
  /* password bytes that are not UTF-8 (Detail(): "at byte N") */                                \
  X(PasswordNotUtf8)                                                                             \
  /* mosaic coefficients that cannot be undone (Detail(): the coefficients and block, "K1 2, */  \
  /* K2 7, block 16x16") */                                                                      \
  X(Irreversible)                                                                                \
  /* a signal ended the work */                                                                  \
  X(Interrupted)                                                                                 \
  /* the row accessor was asked for a row outside the bitmap (Detail(): the row and the */       \
  /* height, joined by kDetailSeparator) */                                                      \
  X(RowOutOfRange)                                                                               \
  /* the password source gave no password at all (Detail(): where it was looked for when that */ \
  /* is no file, "on standard input") */                                                         \
  X(NoPassword)                                                                                  \
  /* another program holds the file open and does not share it (Windows) */                      \
  X(FileInUse)

enum class ErrorKind {
#define KAVUN_ERROR_KIND_ENUMERATOR(name) name,
  KAVUN_ERROR_KINDS(KAVUN_ERROR_KIND_ENUMERATOR)
#undef KAVUN_ERROR_KIND_ENUMERATOR
};

// Separates the two values of a detail that carries two (OutsideRectangle, RowOutOfRange,
// NotThisFormat).
inline constexpr const char* kDetailSeparator = " / ";

// The two values of such a detail; the second is empty when there is no separator.
std::pair<std::string, std::string> SplitDetail(const std::string& detail);

// Words separated by blanks as English alternatives: "a b c" gives "a, b or c".
std::string EnglishAlternatives(std::string_view words);

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

  // A temporary file of a failed save that could not be removed (a folder that forbids
  // removing files), for the user to delete; empty when none was left behind.
  const std::string& LeftOverFile() const noexcept { return leftOver_; }
  // The same error, saying also that `file` was left behind.
  Error WithLeftOverFile(const std::string& file) const;

 private:
  ErrorKind kind_;
  std::string path_;
  std::string detail_;
  std::string leftOver_;
};

// The English sentence for a kind, its file and its detail (what() of an Error). It names the
// file whenever `path` is not empty.
std::string EnglishErrorText(ErrorKind kind, const std::string& path, const std::string& detail);

// The kind for an errno value left by a failed open/read/write/rename: ENOENT/ENOTDIR give
// FileNotFound, EACCES/EPERM PermissionDenied, EROFS ReadOnlyFileSystem, EISDIR NotAFile,
// ENOSPC/EDQUOT/EFBIG DiskFull, ENOMEM OutOfMemory, EINTR Interrupted; anything else ReadFailed or
// WriteFailed depending on `writing`.
ErrorKind KindFromErrno(int error_number, bool writing) noexcept;

// Any exception a command lets through, as an Error with a kind: kavun::Error as it is;
// std::bad_alloc as OutOfMemory; std::filesystem::filesystem_error and std::system_error by
// their errno value (the file named by a filesystem_error kept); anything else Other with its
// what().
Error ToError(const std::exception& exception);

// The kind's identifier, e.g. "FileEndsEarly", for logs and test output.
const char* ErrorKindName(ErrorKind kind) noexcept;

// Every kind, in declaration order (for tables and tests that must cover them all).
inline constexpr ErrorKind kAllErrorKinds[] = {
#define KAVUN_ERROR_KIND_VALUE(name) ErrorKind::name,
    KAVUN_ERROR_KINDS(KAVUN_ERROR_KIND_VALUE)
#undef KAVUN_ERROR_KIND_VALUE
};

}  // namespace kavun
