#pragma once

// Which file "Readme.txt" in the help menu opens.

#include <filesystem>

namespace kavun {

// The readme's file name, as the help menu names it.
inline constexpr char kReadmeName[] = "Readme.txt";
// Where an installation keeps the readme, relative to the folder of the executable: the
// documentation folder of the same prefix (/usr/bin/kavun -> /usr/share/doc/kavun/Readme.txt).
inline constexpr char kInstalledReadme[] = "../share/doc/kavun/Readme.txt";

// "Readme.txt" in `currentDir` when that file exists: the name is resolved against the current
// folder first. Otherwise the readme that came with the program: the installed one
// (kInstalledReadme from the folder of `exePath`), else the copy beside the executable (a build
// tree). When none of them exists, the name in `currentDir`, which then opens nothing.
std::filesystem::path FindReadme(const std::filesystem::path& currentDir,
                                 const std::filesystem::path& exePath);

}  // namespace kavun
