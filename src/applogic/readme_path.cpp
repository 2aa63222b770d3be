#include "applogic/readme_path.h"

#include <system_error>

namespace kavun {

std::filesystem::path FindReadme(const std::filesystem::path& currentDir,
                                 const std::filesystem::path& exePath) {
  const std::filesystem::path inCurrent = currentDir / kReadmeName;
  const std::filesystem::path exeDir = exePath.parent_path();
  for (const std::filesystem::path& candidate :
       {inCurrent, (exeDir / kInstalledReadme).lexically_normal(), exeDir / kReadmeName}) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return inCurrent;
}

}  // namespace kavun
