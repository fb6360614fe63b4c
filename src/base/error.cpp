#include "base/error.h"

namespace tarvion {

TarvionError invalid_integer(const std::string& text) {
  return TarvionError("'" + text + "' is not a valid integer value");
}

}  // namespace tarvion
