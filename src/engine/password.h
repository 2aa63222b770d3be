#pragma once

#include <string>
#include <string_view>

namespace kavun {

// The bytes a typed password is hashed as: the UTF-8 text converted to CP932 (Shift_JIS as the
// Windows code page 932 has it), so that every build produces the same keystream for the same
// typed text. Throws Error for invalid UTF-8 or for a character that CP932 cannot represent
// (substituting "?" would let different passwords give the same key).
std::string PasswordToCp932(std::string_view utf8);

}  // namespace kavun
