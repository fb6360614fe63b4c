// Text to signed 32-bit integer as the configuration file and the ZEMP link
// write them: optional sign, decimal digits, or hex digits after $, X or 0X.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvion {

// nullopt for anything else: empty text, stray characters, out of range.
std::optional<int32_t> try_str_to_int(std::string_view text);

// As above, but throws TarvionError("'<text>' is not a valid integer value").
int32_t str_to_int(std::string_view text);

}  // namespace tarvion
