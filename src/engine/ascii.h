#pragma once

// ASCII letters and hex digits, whatever the C locale says: file extensions, settings keys and
// hex text are ASCII, and std::tolower would also change bytes of other scripts in some locales.

#include <string>
#include <string_view>

namespace kavun {

// `c` in lower case when it is an ASCII capital letter, otherwise `c` itself.
constexpr char LowerAscii(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` with every ASCII capital letter in lower case; other bytes are kept.
inline std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

// The value of a hex digit ('0'-'9', 'a'-'f', 'A'-'F'), or -1 for any other character.
constexpr int HexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The lower-case hex digits, indexed by their value.
inline constexpr char kLowerHexDigits[] = "0123456789abcdef";

}  // namespace kavun
