// zemp-peer's text handling: numbers, "N=V" pairs, and bytes shown or taken
// with their control characters written out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zemp_peer {

using Pair = std::pair<int32_t, int32_t>;

// Decimal, optional minus sign, 32-bit.
bool parse_int(std::string_view text, int& value);

// "256=1:257=2", "256=1 257=2" or "256=1,257=2"; nullopt when a pair is not N=V.
std::optional<std::vector<Pair>> parse_pairs(std::string_view text);

// The pairs of a values line as the server reads it: spaces ignored, items
// split at ":", items without "=" skipped, an empty value is 0; nullopt when
// a number or value is not an integer.
std::optional<std::vector<Pair>> read_values_line(std::string_view line);

// "Arn.Resp:N=V:...:\r\n"
std::string values_line(const std::vector<Pair>& pairs);

// Quoted, with \r \n \t \" \\ and \xHH for other control bytes.
std::string show(std::string_view bytes);
// The reverse for typed text: \r \n \t \\ \xHH.
std::string unescape(std::string_view text);

}  // namespace zemp_peer
