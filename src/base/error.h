// The one error type of the program: carries the user-facing message that the
// main loop shows (with a full stop added) before it goes on.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace tarvion {

class TarvionError : public std::runtime_error {
 public:
  explicit TarvionError(const std::string& message) : std::runtime_error(message) {}
  // hint: a line shown under the message that tells the user what to do about
  // it (where a file was looked for); the message itself stays as it is.
  TarvionError(const std::string& message, std::string hint)
      : std::runtime_error(message), hint_(std::move(hint)) {}

  const std::string& hint() const { return hint_; }

 private:
  std::string hint_;
};

// "'%s' is not a valid integer value", the text of every failed integer conversion.
TarvionError invalid_integer(const std::string& text);

}  // namespace tarvion
