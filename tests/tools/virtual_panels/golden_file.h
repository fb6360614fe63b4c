// Reads the golden fixtures beside these tests: "panel KIND" blocks of
// "left | right" lines, # comments and blank lines dropped.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace virtual_panels::testing {

struct GoldenLine {
  std::string left, right;
  int line_number;
};
struct GoldenBlock {
  std::string kind;
  std::vector<GoldenLine> lines;
};

inline std::string trimmed(const std::string& text) {
  auto start = text.find_first_not_of(' ');
  auto end = text.find_last_not_of(' ');
  return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

inline std::vector<GoldenBlock> read_golden(const std::string& name) {
  std::ifstream in(std::string(TARVION_TEST_DATA) + "/" + name);
  std::vector<GoldenBlock> blocks;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("panel ", 0) == 0) {
      blocks.push_back({line.substr(6), {}});
      continue;
    }
    auto bar = line.find('|');
    if (blocks.empty() || bar == std::string::npos) {
      blocks.push_back({"malformed line " + std::to_string(number), {}});
      continue;
    }
    // The right side keeps its inner spaces: blank digits are spaces.
    std::string right = line.substr(bar + 1);
    if (!right.empty() && right[0] == ' ') right.erase(0, 1);
    blocks.back().lines.push_back({trimmed(line.substr(0, bar)), right, number});
  }
  return blocks;
}

}  // namespace virtual_panels::testing
