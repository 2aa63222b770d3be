#pragma once

// How kavun-cli reads the password of xor: from a file, from standard input or from the command
// line, as the CP932 bytes the keystream is made from.

#include <cstdint>
#include <string>

#include "cli/options.h"

namespace kavun::cli {

// The largest password file, and the longest password line on standard input.
inline constexpr uint64_t kMaxPasswordFileBytes = uint64_t{1} << 20;

// The password the options name, as CP932 bytes; warns on stderr of a password given on the
// command line and of an empty one. Throws Error (naming the password file, if any).
std::string ReadPassword(const Options& o);

}  // namespace kavun::cli
