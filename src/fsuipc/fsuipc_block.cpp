#include "fsuipc/fsuipc_block.h"

#include <algorithm>
#include <vector>

namespace tarvion {

uint32_t get_le32(std::span<const uint8_t> bytes, std::size_t pos) {
  return static_cast<uint32_t>(bytes[pos]) | static_cast<uint32_t>(bytes[pos + 1]) << 8 |
         static_cast<uint32_t>(bytes[pos + 2]) << 16 | static_cast<uint32_t>(bytes[pos + 3]) << 24;
}

void put_le32(std::span<uint8_t> bytes, std::size_t pos, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[pos + i] = static_cast<uint8_t>(value >> (8 * i));
}

namespace {

struct Copy {
  std::size_t from;  // data position in the block
  std::size_t length;
  std::span<uint8_t> to;
};

// True when length bytes from pos lie inside a block of size bytes. Sizes
// come from the other process, so the sum is formed without overflow.
bool fits(std::size_t block_size, std::size_t pos, uint64_t length) {
  return pos <= block_size && length <= block_size - pos;
}

}  // namespace

bool copy_answered_reads(std::span<const uint8_t> block, std::span<const PendingRead> reads) {
  // Check the whole block first, so a bad block leaves every destination as it was.
  std::vector<Copy> copies;
  std::size_t pos = 0;
  for (;;) {
    if (!fits(block.size(), pos, kFsuipcTerminator)) return false;
    const uint32_t id = get_le32(block, pos);
    if ((id & 0xFF) == 0) break;
    if (id == kFsuipcReadId) {
      if (!fits(block.size(), pos, kFsuipcReadHeader)) return false;
      const uint32_t size = get_le32(block, pos + 8);
      const uint32_t destination = get_le32(block, pos + 12);
      const std::size_t data = pos + kFsuipcReadHeader;
      if (!fits(block.size(), data, size)) return false;
      if (destination != 0) {
        if (destination > reads.size()) return false;
        const PendingRead& read = reads[destination - 1];
        if (read.size != size) return false;
        const std::size_t length = std::min<std::size_t>(size, read.destination.size());
        if (length > 0) copies.push_back(Copy{data, length, read.destination});
      }
      pos = data + size;
    } else if (id == kFsuipcWriteId) {
      if (!fits(block.size(), pos, kFsuipcWriteHeader)) return false;
      const uint32_t size = get_le32(block, pos + 8);
      const std::size_t data = pos + kFsuipcWriteHeader;
      if (!fits(block.size(), data, size)) return false;
      pos = data + size;
    } else {
      // The client writes no other record; the rest of the block cannot be trusted.
      return false;
    }
  }
  for (const Copy& c : copies) {
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(c.from), c.length, c.to.begin());
  }
  return true;
}

}  // namespace tarvion
