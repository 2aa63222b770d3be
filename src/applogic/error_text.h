#pragma once

#include <string>

#include "engine/error.h"

namespace kavun {

// The window's wording of an error, in Japanese (UTF-8): what happened, to which file, and what
// the user can do. Every kind has its own sentences; the file appears in double quotes as it
// was given. The last sentence has no closing "。", because the error box appends "." to any
// message that ends in a character above "."; a detail the user may need (a library's message,
// the system's reason) follows on a line of its own in parentheses.
std::string JapaneseErrorText(const Error& error);

}  // namespace kavun
