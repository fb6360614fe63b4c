// The one error type of the program: carries the user-facing message that the
// main loop shows (with a full stop added) before it goes on.
#pragma once

#include <stdexcept>
#include <string>

namespace tarvion {

class TarvionError : public std::runtime_error {
 public:
  explicit TarvionError(const std::string& message) : std::runtime_error(message) {}
};

// "'%s' is not a valid integer value", the text of every failed integer conversion.
TarvionError invalid_integer(const std::string& text);

}  // namespace tarvion
