// Helpers of the FSUIPC tests: golden hex fixtures and small block builders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvion::test {

// Reads a fixture of hex bytes: whitespace between bytes is free, '#' starts
// a comment that runs to the end of the line.
std::vector<uint8_t> load_hex_fixture(const std::string& name);

// Hex text of bytes, 16 per line, for readable failure messages.
std::string hex_dump(const std::vector<uint8_t>& bytes);

// Little-endian bytes of value, size 1, 2 or 4.
std::vector<uint8_t> le(uint32_t value, int size);

}  // namespace tarvion::test
