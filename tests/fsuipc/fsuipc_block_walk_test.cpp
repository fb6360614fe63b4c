// The walk of an answered block: reads reach their destinations, and nothing
// the other process wrote can make it read past the block or copy wrongly.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "fsuipc/fsuipc_block.h"

namespace tarvion {
namespace {

// Lays records into a 32 KiB block the way an answering server leaves them.
class BlockBuilder {
 public:
  BlockBuilder() : bytes(kFsuipcBlockSize, 0) {}

  BlockBuilder& read(uint32_t offset, uint32_t size, uint32_t destination,
                     std::vector<uint8_t> data) {
    u32(kFsuipcReadId).u32(offset).u32(size).u32(destination);
    for (uint8_t b : data) bytes.at(pos++) = b;
    return *this;
  }
  BlockBuilder& write(uint32_t offset, std::vector<uint8_t> data) {
    u32(kFsuipcWriteId).u32(offset).u32(static_cast<uint32_t>(data.size()));
    for (uint8_t b : data) bytes.at(pos++) = b;
    return *this;
  }
  BlockBuilder& u32(uint32_t value) {
    put_le32(bytes, pos, value);
    pos += 4;
    return *this;
  }
  BlockBuilder& at(std::size_t position) {
    pos = position;
    return *this;
  }

  std::vector<uint8_t> bytes;
  std::size_t pos = 0;
};

struct WalkCase {
  std::string name;
  std::function<void(BlockBuilder&)> build;
  bool accepted;
  uint32_t first_size;  // size the client queued for pending read 1 (read 2: 2 bytes)
  // Expected contents of the two destinations afterwards (they start as 0xEE).
  std::array<uint8_t, 4> first;
  std::array<uint8_t, 2> second;
};

constexpr std::array<uint8_t, 4> kUntouched4{0xEE, 0xEE, 0xEE, 0xEE};
constexpr std::array<uint8_t, 2> kUntouched2{0xEE, 0xEE};

TEST(FsuipcBlockWalk, CopiesReadsAndRejectsBlocksThatDoNotHold) {
  const std::vector<WalkCase> cases = {
      {"reads go to the pending read their destination names, writes are stepped over",
       [](BlockBuilder& b) {
         b.write(0x330A, {0xEC, 0x03}).read(0x30E0, 2, 2, {0x34, 0x12});
         b.read(0x0BEC, 4, 1, {1, 2, 3, 4}).u32(0);
       },
       true,
       4,
       {1, 2, 3, 4},
       {0x34, 0x12}},
      {"destination 0 takes nothing",
       [](BlockBuilder& b) {
         b.read(0x0BEC, 4, 0, {1, 2, 3, 4}).u32(0);
       },
       true, 4, kUntouched4, kUntouched2},
      {"a read of size 0 takes nothing", [](BlockBuilder& b) { b.read(0x0BEC, 0, 1, {}).u32(0); },
       true, 0, kUntouched4, kUntouched2},
      {"the terminator is any identifier whose lowest byte is 0",
       [](BlockBuilder& b) {
         b.read(0x0BEC, 4, 1, {9, 9, 9, 9}).u32(0x0100);
         b.read(0x30E0, 2, 2, {7, 7});
       },
       true,
       4,
       {9, 9, 9, 9},
       kUntouched2},
      {"a read whose size runs past the block",
       [](BlockBuilder& b) {
         b.read(0x0BEC, 4, 1, {1, 2, 3, 4}).read(0, 0x8000, 0, {});
       },
       false, 4, kUntouched4, kUntouched2},
      {"a size that wraps 32-bit arithmetic",
       [](BlockBuilder& b) { b.read(0, 0xFFFFFFF0u, 0, {}).u32(0); }, false, 4, kUntouched4,
       kUntouched2},
      {"a write whose size runs past the block",
       [](BlockBuilder& b) {
         b.read(0x0BEC, 4, 1, {1, 2, 3, 4}).write(0, {}).at(28).u32(0x8000);
       },
       false, 4, kUntouched4, kUntouched2},
      {"a read header cut by the end of the block",
       [](BlockBuilder& b) { b.write(0, std::vector<uint8_t>(kFsuipcBlockSize - 12 - 8)).u32(1); },
       false, 4, kUntouched4, kUntouched2},
      {"a block with no terminator before its end",
       [](BlockBuilder& b) { b.write(0, std::vector<uint8_t>(kFsuipcBlockSize - 12)); }, false, 4,
       kUntouched4, kUntouched2},
      {"an unknown identifier after a good read copies nothing at all",
       [](BlockBuilder& b) {
         b.read(0x0BEC, 4, 1, {1, 2, 3, 4}).u32(3).u32(0).u32(0).u32(0);
       },
       false, 4, kUntouched4, kUntouched2},
      {"a destination beyond the pending reads",
       [](BlockBuilder& b) {
         b.read(0x0BEC, 4, 3, {1, 2, 3, 4}).u32(0);
       },
       false, 4, kUntouched4, kUntouched2},
      {"a size other than the one queued",
       [](BlockBuilder& b) {
         b.read(0x0BEC, 2, 1, {1, 2}).u32(0);
       },
       false, 4, kUntouched4, kUntouched2},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    BlockBuilder block;
    c.build(block);
    std::array<uint8_t, 4> first = kUntouched4;
    std::array<uint8_t, 2> second = kUntouched2;
    const std::vector<PendingRead> reads{{c.first_size, first}, {2, second}};
    EXPECT_EQ(copy_answered_reads(block.bytes, reads), c.accepted);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(second, c.second);
  }
}

TEST(FsuipcBlockWalk, CopiesNoMoreThanTheDestinationHolds) {
  BlockBuilder block;
  block.read(0, 4, 1, {1, 2, 3, 4}).u32(0);
  std::array<uint8_t, 4> storage{0xEE, 0xEE, 0xEE, 0xEE};
  const std::vector<PendingRead> reads{{4, std::span<uint8_t>(storage).first(2)}};
  EXPECT_TRUE(copy_answered_reads(block.bytes, reads));
  EXPECT_EQ(storage, (std::array<uint8_t, 4>{1, 2, 0xEE, 0xEE}));
}

TEST(FsuipcBlockWalk, AnEmptyOrTinyBlockIsBad) {
  const std::vector<PendingRead> none;
  EXPECT_FALSE(copy_answered_reads({}, none));
  const std::array<uint8_t, 3> tiny{};
  EXPECT_FALSE(copy_answered_reads(tiny, none));
}

}  // namespace
}  // namespace tarvion
