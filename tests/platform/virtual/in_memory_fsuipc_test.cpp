// The in-memory FSUIPC service that the other tests lean on: it must answer
// like the real service, or those tests prove nothing.
#include "platform/virtual/in_memory_fsuipc.h"

#include <gtest/gtest.h>

#include <vector>

#include "fsuipc/fsuipc_block.h"

namespace tarvion {
namespace {

// Opens a block on the service by hand, as a client would.
struct HandClient {
  explicit HandClient(InMemoryFsuipc& s) : service(s) {
    bool existed = false;
    atom = service.add_atom("FsasmLib:IPC:1A2C:1");
    mapping = service.create_mapping("FsasmLib:IPC:1A2C:1", kFsuipcBlockSize, existed);
    block = service.map_view(mapping);
  }
  int64_t send(uint32_t message = InMemoryFsuipc::kIpcMessage) {
    int64_t answer = -1;
    EXPECT_TRUE(
        service.send_message(InMemoryFsuipc::kServerWindow, message, atom, 0, 2000, answer));
    return answer;
  }
  InMemoryFsuipc& service;
  uint16_t atom = 0;
  IpcMapping mapping = kNoIpcMapping;
  std::span<uint8_t> block;
};

TEST(InMemoryFsuipc, ReadsAreFilledBehindTheirHeaderAndWritesApplied) {
  InMemoryFsuipc service;
  service.write_offset(0x0BEC, 4, 0xA1B2C3D4);
  HandClient c(service);
  put_le32(c.block, 0, kFsuipcWriteId);
  put_le32(c.block, 4, 0x0D0C);
  put_le32(c.block, 8, 2);
  c.block[12] = 0x3F;
  c.block[13] = 0x01;
  put_le32(c.block, 14, kFsuipcReadId);
  put_le32(c.block, 18, 0x0BEC);
  put_le32(c.block, 22, 4);
  put_le32(c.block, 26, 9);
  put_le32(c.block, 34, 0);
  EXPECT_EQ(c.send(), 1);
  EXPECT_EQ(get_le32(c.block, 30), 0xA1B2C3D4u);
  EXPECT_EQ(get_le32(c.block, 26), 9u) << "headers stay as they were";
  EXPECT_EQ(service.read_offset(0x0D0C, 2), 0x013Fu);
  ASSERT_EQ(service.blocks.size(), 1u);
  EXPECT_EQ(service.blocks[0].size(), 38u);
  EXPECT_EQ(get_le32(service.blocks[0], 30), 0u) << "recorded as it arrived";
}

TEST(InMemoryFsuipc, AnswersZeroToWhatItCannotTake) {
  InMemoryFsuipc service;
  HandClient c(service);
  put_le32(c.block, 0, 0);
  EXPECT_EQ(c.send(0x1234), 0) << "an unknown message";
  put_le32(c.block, 0, kFsuipcReadId);
  put_le32(c.block, 4, 0xFFFE);
  put_le32(c.block, 8, 4);
  EXPECT_EQ(c.send(), 0) << "a read past the 64 KiB offset space";
  put_le32(c.block, 0, 7);
  EXPECT_EQ(c.send(), 0) << "an unknown request";
}

TEST(InMemoryFsuipc, ANamedBlockLivesWhileAHandleOrViewHoldsIt) {
  InMemoryFsuipc service;
  bool existed = true;
  const IpcMapping first = service.create_mapping("X", 16, existed);
  EXPECT_FALSE(existed);
  const IpcMapping second = service.create_mapping("X", 16, existed);
  EXPECT_TRUE(existed);
  std::span<uint8_t> view = service.map_view(first);
  view[0] = 42;
  service.close_mapping(first);
  service.close_mapping(second);
  EXPECT_EQ(view[0], 42) << "the view still holds the block";
  service.unmap_view(view);
  service.create_mapping("X", 16, existed);
  EXPECT_FALSE(existed) << "gone once the last holder let go";
}

TEST(InMemoryFsuipc, SimulatorMovesGearAndFlapsTowardsTheirControls) {
  InMemoryFsuipc service;
  service.set_flaps(2048, 0);
  service.write_offset(0x0BE8, 4, 16383);  // lever down
  service.write_offset(0x0BDC, 4, 4096);   // flaps to the second detent
  service.run_simulator(1000);
  EXPECT_EQ(service.read_offset(0x0BEC, 4), 4000u);
  EXPECT_EQ(service.read_offset(0x30E0, 2), 4096u);
  EXPECT_EQ(service.read_offset(0x0BE0, 4), 4096u);
  service.run_simulator(10000);
  EXPECT_EQ(service.read_offset(0x0BF4, 4), 16383u);
  service.write_offset(0x0BE8, 4, 0);
  service.run_simulator(10000);
  EXPECT_EQ(service.read_offset(0x0BF0, 4), 0u);
}

}  // namespace
}  // namespace tarvion
