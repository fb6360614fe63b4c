#include "fsuipc_test_support.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tarvion::test {

std::vector<uint8_t> load_hex_fixture(const std::string& name) {
  const std::string path = std::string(TARVION_TEST_DATA) + "/golden/" + name;
  std::ifstream in(path);
  if (!in) throw std::runtime_error("missing fixture " + path);
  std::vector<uint8_t> bytes;
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
      if (word.size() % 2 != 0) throw std::runtime_error("odd hex digits in " + path + ": " + word);
      for (std::size_t i = 0; i < word.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(word.substr(i, 2), nullptr, 16)));
      }
    }
  }
  return bytes;
}

std::string hex_dump(const std::vector<uint8_t>& bytes) {
  std::string text;
  char cell[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(cell, sizeof cell, "%02X", bytes[i]);
    text += cell;
    text += (i % 16 == 15) ? '\n' : ' ';
  }
  return text;
}

std::vector<uint8_t> le(uint32_t value, int size) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return bytes;
}

}  // namespace tarvion::test
