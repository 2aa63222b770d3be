// The whole content of a small regular file (settings, a password file), on every system: the
// opening and its checks are InputFile's (file_io.cpp, file_io_win32.cpp).
#include <cerrno>
#include <cstdio>
#include <string>

#include "engine/error.h"
#include "engine/path_text.h"
#include "imagefile/file_io.h"

namespace kavun {

std::string ReadRegularFile(const std::filesystem::path& path, uint64_t maxBytes) {
  const InputFile file(path, maxBytes);
  std::string content;
  content.reserve(static_cast<std::size_t>(file.Size()));
  char buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.Stream())) > 0) {
    content.append(buffer, n);
    // The file may grow while it is read.
    if (maxBytes != 0 && content.size() > maxBytes) {
      throw Error(ErrorKind::FileTooLarge, PathToUtf8(path),
                  "more than " + std::to_string(maxBytes));
    }
  }
  if (std::ferror(file.Stream()) != 0) ThrowReadError(path);
  return content;
}

}  // namespace kavun
