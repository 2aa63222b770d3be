#pragma once

// File names as text. Kavun's own strings are UTF-8 on every system; std::filesystem::path is
// UTF-8 bytes on Linux and UTF-16 on Windows, where a path made from a plain std::string would
// be read in the C library's code page. These two convert exactly on both.

#include <filesystem>
#include <string>
#include <string_view>

namespace kavun {

// The path that UTF-8 text names (on Linux the same bytes, whatever their encoding).
inline std::filesystem::path PathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// A path as UTF-8 text, for messages and for strings that become paths again.
inline std::string PathToUtf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace kavun
