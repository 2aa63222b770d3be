#pragma once

// What the user may do with a file or a folder, asked of the system (its access rights, not only
// the permission bits or attributes). For choosing where the settings go; a save still checks
// and reports on its own (file_io.h).

#include <filesystem>

namespace kavun {

bool MayReadFile(const std::filesystem::path& file);
bool MayWriteFile(const std::filesystem::path& file);
// Whether new files can be created in `folder`.
bool MayCreateIn(const std::filesystem::path& folder);

}  // namespace kavun
