#include "base/error.h"

#include "base/shown_text.h"

namespace tarvion {

TarvionError invalid_integer(const std::string& text) {
  // The text comes from outside (a received line, the configuration) and goes
  // into an error box or a console line: escaped and cut.
  return TarvionError("'" + shown_text(text) + "' is not a valid integer value");
}

}  // namespace tarvion
