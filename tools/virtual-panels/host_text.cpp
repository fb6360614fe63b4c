#include "host_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <istream>

namespace virtual_panels {

std::string to_hex(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::optional<std::vector<uint8_t>> from_hex(const std::string& text) {
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    if (std::sscanf(text.substr(i, 2).c_str(), "%2x", &value) != 1 || !std::isxdigit(text[i]) ||
        !std::isxdigit(text[i + 1])) {
      return std::nullopt;
    }
    out.push_back(static_cast<uint8_t>(value));
  }
  return out;
}

std::optional<int> to_int(const std::string& text) {
  try {
    std::size_t used = 0;
    int value = std::stoi(text, &used);
    if (used == text.size()) return value;
  } catch (...) {
  }
  return std::nullopt;
}

std::vector<ScriptLine> parse_script(std::istream& in) {
  std::vector<ScriptLine> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    line = line.substr(start);
    ScriptLine entry;
    if (line[0] == '+') {
      std::size_t space = line.find(' ');
      entry.delay_ms = to_int(line.substr(1, space - 1)).value_or(0);
      line = space == std::string::npos ? "" : line.substr(line.find_first_not_of(' ', space));
    }
    // "sleep MS" is a pause before whatever comes next.
    if (line.rfind("sleep", 0) == 0 && (line.size() == 5 || line[5] == ' ')) {
      entry.delay_ms += to_int(line.size() > 6 ? line.substr(6) : "0").value_or(0);
      line.clear();
    }
    entry.command = line;
    lines.push_back(entry);
  }
  return lines;
}

}  // namespace virtual_panels
