// Errors carry a kind whatever raised them: the system's errno values and the standard
// library's exceptions are mapped to the kinds the front ends word.

#include "engine/error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <exception>
#include <filesystem>
#include <ios>
#include <new>
#include <string>
#include <system_error>
#include <utility>

namespace kavun {
namespace {

// Exceptions from the standard library reach the error box with a kind too.
TEST(Error, StandardExceptionsBecomeErrorsOfTheirKind) {
  struct Case {
    const char* name;
    std::exception_ptr thrown;
    ErrorKind kind;
    std::string path;
  };
  const Case cases[] = {
      {"bad_alloc", std::make_exception_ptr(std::bad_alloc()), ErrorKind::OutOfMemory, ""},
      {"filesystem ENOENT",
       std::make_exception_ptr(std::filesystem::filesystem_error(
           "copy", "/x/gone.png", std::make_error_code(std::errc::no_such_file_or_directory))),
       ErrorKind::FileNotFound, "/x/gone.png"},
      {"filesystem ENOSPC",
       std::make_exception_ptr(std::filesystem::filesystem_error(
           "copy", "/x/full.png", std::make_error_code(std::errc::no_space_on_device))),
       ErrorKind::DiskFull, "/x/full.png"},
      {"system EACCES",
       std::make_exception_ptr(
           std::system_error(std::make_error_code(std::errc::permission_denied), "open")),
       ErrorKind::PermissionDenied, ""},
      // iostream's own codes are no errno values: value 1 is not EPERM here.
      {"ios failure", std::make_exception_ptr(std::ios_base::failure("basic_filebuf::underflow")),
       ErrorKind::Other, ""},
      {"kavun::Error",
       std::make_exception_ptr(Error(ErrorKind::FileEndsEarly, "cut.png", "Read Error")),
       ErrorKind::FileEndsEarly, "cut.png"},
      {"runtime_error", std::make_exception_ptr(std::runtime_error("odd")), ErrorKind::Other, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      std::rethrow_exception(c.thrown);
    } catch (const std::exception& e) {
      const Error error = ToError(e);
      EXPECT_EQ(error.Kind(), c.kind) << ErrorKindName(error.Kind());
      EXPECT_EQ(error.Path(), c.path);
    }
  }
}

TEST(Error, ErrnoValuesGiveTheKindTheUserCanActOn) {
  const std::pair<int, ErrorKind> cases[] = {
      {ENOENT, ErrorKind::FileNotFound},     {ENOTDIR, ErrorKind::FileNotFound},
      {EACCES, ErrorKind::PermissionDenied}, {EROFS, ErrorKind::ReadOnlyFileSystem},
      {EISDIR, ErrorKind::NotAFile},         {ENOSPC, ErrorKind::DiskFull},
#ifdef EDQUOT
      {EDQUOT, ErrorKind::DiskFull},
#endif
      {EFBIG, ErrorKind::DiskFull},          {ENOMEM, ErrorKind::OutOfMemory},
  };
  for (const auto& [number, kind] : cases) {
    EXPECT_EQ(KindFromErrno(number, true), kind) << number;
  }
  EXPECT_EQ(KindFromErrno(EIO, false), ErrorKind::ReadFailed);
  EXPECT_EQ(KindFromErrno(EIO, true), ErrorKind::WriteFailed);
}

}  // namespace
}  // namespace kavun
