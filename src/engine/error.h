#pragma once

#include <stdexcept>
#include <string>

namespace kavun {

// Every failure the engine, the file layer and the front ends report is one of these; the
// message is meant for the user as it stands.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kavun
