#pragma once

// A folder of its own for one test, made empty at the start and removed with everything in it
// at the end. Shared by the tests of the file layer, the settings and kavun-cli.

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

namespace kavun::test {

class TempDir {
 public:
  // The folder is named after `prefix`, the process and a counter, so that tests running at the
  // same time (ctest -j) never share one.
  explicit TempDir(const std::string& prefix = "kavun-test") {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            (prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace kavun::test
