// Fuzzes the walk of an answered FSUIPC block: whatever another process left
// in the shared block, the walk stays inside it and inside the destinations.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "fsuipc/fsuipc_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvion;
  // First byte: how many pending reads the client had (0..15); the next
  // bytes: their sizes (0..255) and destination lengths. The rest is the
  // block's start; the remainder of the 32 KiB block is zero, as mapped.
  std::size_t pos = 0;
  const std::size_t count = size > pos ? data[pos++] % 16 : 0;
  std::vector<std::vector<uint8_t>> storage;
  std::vector<PendingRead> reads;
  storage.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const uint32_t read_size = size > pos ? data[pos++] : 0;
    const std::size_t length = size > pos ? data[pos++] : 0;
    storage.emplace_back(length);
    reads.push_back(PendingRead{read_size, storage.back()});
  }
  std::vector<uint8_t> block(kFsuipcBlockSize, 0);
  const std::size_t rest = size - std::min(pos, size);
  std::memcpy(block.data(), data + std::min(pos, size), std::min(rest, block.size()));
  copy_answered_reads(block, reads);
  // A block cut short of 32 KiB (a view that is too small) must be safe too.
  copy_answered_reads(std::span<const uint8_t>(block).first(std::min(rest, block.size())), reads);
  return 0;
}
