// The text forms the virtual panel host reads and writes: reports as hex, and
// its scripts ("+250 turn c1 outer +1" lines).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace virtual_panels {

struct ScriptLine {
  int delay_ms = 0;  // after the previous command
  std::string command;
};

// "+250 turn c1 outer +1" and plain commands; blank lines and # comments dropped.
std::vector<ScriptLine> parse_script(std::istream& in);

std::string to_hex(const std::vector<uint8_t>& bytes);  // lower case
std::optional<std::vector<uint8_t>> from_hex(const std::string& text);
std::optional<int> to_int(const std::string& text);
std::string lower(std::string text);

}  // namespace virtual_panels
