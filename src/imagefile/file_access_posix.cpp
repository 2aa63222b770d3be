// What the user may do, on POSIX systems: access(2) with the real user's rights. The Windows form
// is in file_io_win32.cpp.

#include <unistd.h>

#include "imagefile/file_access.h"

namespace kavun {

bool MayReadFile(const std::filesystem::path& file) {
  return ::access(file.c_str(), R_OK) == 0;
}

bool MayWriteFile(const std::filesystem::path& file) {
  return ::access(file.c_str(), W_OK) == 0;
}

bool MayCreateIn(const std::filesystem::path& folder) {
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace kavun
