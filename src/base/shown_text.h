// Outside text (received data, configuration values, USB strings) made safe to
// show to a user: no byte of it can drive a terminal or break a line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvion {

// How much of a failing value an error message quotes.
inline constexpr std::size_t kMaxShownText = 80;

// At most max_bytes of text, cut on a character boundary, with "..." when
// something was cut. Control characters (C0 but tab, DEL, C1) and bytes that
// are not UTF-8 are written as \xNN; everything else stays as it is.
std::string shown_text(std::string_view text, std::size_t max_bytes = kMaxShownText);

// The longest prefix of at most max_bytes that does not end inside a UTF-8
// character (a byte that starts none counts as a character of its own).
std::string_view utf8_prefix(std::string_view text, std::size_t max_bytes);

}  // namespace tarvion
