// The FSUIPC client against the in-memory service: opening with every way it
// can fail, the block it sends, queueing limits, processing and closing.
#include "fsuipc/fsuipc_client.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "fsuipc_test_support.h"
#include "platform/virtual/in_memory_fsuipc.h"

namespace tarvion {
namespace {

// Nothing acquired is left behind.
void expect_released(const InMemoryFsuipc& service) {
  EXPECT_EQ(service.atoms_held(), 0);
  EXPECT_EQ(service.mappings_held(), 0);
  EXPECT_EQ(service.views_held(), 0);
}

struct OpenCase {
  std::string name;
  std::function<void(InMemoryFsuipc&)> setup;
  FsuipcCode code;
};

TEST(FsuipcClient, OpenReportsEachWayItCanEnd) {
  const std::vector<OpenCase> cases = {
      {"a current FSUIPC", [](InMemoryFsuipc&) {}, FsuipcCode::ok},
      {"the oldest FSUIPC accepted",
       [](InMemoryFsuipc& s) { s.set_versions(0x19980005, 0xFADE0001); }, FsuipcCode::ok},
      {"WideClient with a simulator behind it",
       [](InMemoryFsuipc& s) { s.window_class = "FS98MAIN"; }, FsuipcCode::ok},
      {"no simulator running", [](InMemoryFsuipc& s) { s.window_class = ""; },
       FsuipcCode::no_server},
      {"a window of another class only", [](InMemoryFsuipc& s) { s.window_class = "FS2000"; },
       FsuipcCode::no_server},
      {"the message cannot be registered",
       [](InMemoryFsuipc& s) { s.faults.register_fails = true; }, FsuipcCode::register_failed},
      {"no atom to be had", [](InMemoryFsuipc& s) { s.faults.atom_fails = true; },
       FsuipcCode::atom_failed},
      {"no mapping to be had", [](InMemoryFsuipc& s) { s.faults.mapping_fails = true; },
       FsuipcCode::mapping_failed},
      {"no view to be had", [](InMemoryFsuipc& s) { s.faults.view_fails = true; },
       FsuipcCode::view_failed},
      {"FSUIPC one build too old",
       [](InMemoryFsuipc& s) { s.set_versions(0x19980004, 0xFADE0008); }, FsuipcCode::wrong_fsuipc},
      {"no simulator mark", [](InMemoryFsuipc& s) { s.set_versions(0x40000000, 0xFADF0008); },
       FsuipcCode::wrong_fsuipc},
      {"WideClient whose server runs no simulator",
       [](InMemoryFsuipc& s) {
         s.window_class = "FS98MAIN";
         s.set_versions(0x40000000, 0);
       },
       FsuipcCode::no_fs_on_server},
      {"every send times out",
       [](InMemoryFsuipc& s) {
         s.faults.failing_sends = 10;
         s.faults.send_error = 0;
       },
       FsuipcCode::timed_out},
      {"every send fails with an error",
       [](InMemoryFsuipc& s) {
         s.faults.failing_sends = 10;
         s.faults.send_error = 1460;
       },
       FsuipcCode::send_failed},
      {"nine sends fail, the tenth gets through",
       [](InMemoryFsuipc& s) { s.faults.failing_sends = 9; }, FsuipcCode::ok},
      {"the server refuses the block", [](InMemoryFsuipc& s) { s.faults.answer = 0; },
       FsuipcCode::bad_data},
  };
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.name);
    InMemoryFsuipc service;
    c.setup(service);
    FsuipcClient client(service);
    FsuipcCode code = FsuipcCode::already_open;
    EXPECT_EQ(client.fsuipc_open(kAnySimulator, code), c.code == FsuipcCode::ok);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(client.is_open(), c.code == FsuipcCode::ok);
    if (c.code != FsuipcCode::ok) expect_released(service);
  }
}

TEST(FsuipcClient, ABlockOfOurNameThatExistsIsNotShared) {
  InMemoryFsuipc service;
  service.pid = 6700;
  bool existed = false;
  const IpcMapping stale = service.create_mapping("FsasmLib:IPC:1A2C:1", 0x8000, existed);
  FsuipcClient client(service);
  FsuipcCode code;
  EXPECT_FALSE(client.fsuipc_open(kAnySimulator, code));
  EXPECT_EQ(code, FsuipcCode::mapping_failed);
  EXPECT_EQ(service.atoms_held(), 0);
  EXPECT_EQ(service.mappings_held(), 1) << "only the other owner's handle remains";
  service.close_mapping(stale);
  EXPECT_TRUE(client.fsuipc_open(kAnySimulator, code));
}

TEST(FsuipcClient, BlockNameIsTheProcessIdInUpperCaseHex) {
  const std::vector<std::pair<uint32_t, std::string>> cases = {
      {6700, "FsasmLib:IPC:1A2C:1"},
      {0, "FsasmLib:IPC:0:1"},
      {0xABCDEF01, "FsasmLib:IPC:ABCDEF01:1"},
  };
  for (const auto& [pid, name] : cases) EXPECT_EQ(fsuipc_block_name(pid), name);
}

TEST(FsuipcClient, RequestedSimulatorIsChecked) {
  const std::vector<std::tuple<uint32_t, uint32_t, FsuipcCode>> cases = {
      {0xFADE0008, kAnySimulator, FsuipcCode::ok},
      {0xFADE0008, 8, FsuipcCode::ok},
      {0xFADE0008, 7, FsuipcCode::wrong_sim},
      {0xFADE0001, 1, FsuipcCode::ok},
  };
  for (const auto& [fs, requested, expected] : cases) {
    InMemoryFsuipc service;
    service.set_versions(0x40000000, fs);
    FsuipcClient client(service);
    FsuipcCode code;
    client.fsuipc_open(requested, code);
    EXPECT_EQ(code, expected) << std::hex << fs << " requested " << requested;
    if (expected == FsuipcCode::ok) {
      EXPECT_EQ(client.fs_version(), fs & 0xFFFF);
    } else {
      expect_released(service);
    }
  }
}

TEST(FsuipcClient, FirstOpenPassSendsTheGoldenBlock) {
  InMemoryFsuipc service;
  FsuipcClient client(service);
  FsuipcCode code;
  ASSERT_TRUE(client.fsuipc_open(kAnySimulator, code));
  ASSERT_EQ(service.blocks.size(), 1u);
  const std::vector<uint8_t> golden = test::load_hex_fixture("open_first_pass.hex");
  EXPECT_EQ(golden.size(), 58u);
  EXPECT_EQ(service.blocks[0], golden) << test::hex_dump(service.blocks[0]);
  EXPECT_EQ(service.library_version, 1004u);
  EXPECT_EQ(client.fsuipc_version(), 0x49990000u);
  EXPECT_EQ(service.waited_ms, 100u);
}

TEST(FsuipcClient, OpenAsksAgainWhileTheServerHasNoVersionYet) {
  struct Case {
    int ready_after;  // blocks processed before the service fills its versions
    FsuipcCode code;
    std::size_t blocks;
  };
  for (const Case c : {Case{2, FsuipcCode::ok, 3}, Case{5, FsuipcCode::wrong_fsuipc, 5},
                       Case{99, FsuipcCode::wrong_fsuipc, 5}}) {
    InMemoryFsuipc service;
    service.set_versions(0, 0);
    service.after_process = [&](std::span<uint8_t>) {
      if (static_cast<int>(service.blocks.size()) == c.ready_after) {
        service.set_versions(0x40000000, 0xFADE0008);
      }
    };
    FsuipcClient client(service);
    FsuipcCode code;
    client.fsuipc_open(kAnySimulator, code);
    EXPECT_EQ(code, c.code) << c.ready_after;
    ASSERT_EQ(service.blocks.size(), c.blocks);
    EXPECT_EQ(service.waited_ms, 100u * c.blocks);
    // The library version goes with the first pass only.
    EXPECT_EQ(service.writes.size(), 1u);
    EXPECT_EQ(service.blocks.back().size(), 44u);
  }
}

TEST(FsuipcClient, OpeningTwiceLeavesTheOpenLinkAlone) {
  InMemoryFsuipc service;
  FsuipcClient client(service);
  FsuipcCode code;
  ASSERT_TRUE(client.fsuipc_open(kAnySimulator, code));
  EXPECT_FALSE(client.fsuipc_open(kAnySimulator, code));
  EXPECT_EQ(code, FsuipcCode::already_open);
  std::array<uint8_t, 4> version{};
  EXPECT_TRUE(client.fsuipc_read(0x3304, 4, version, code));
  EXPECT_TRUE(client.fsuipc_process(code));
  EXPECT_EQ(version, (std::array<uint8_t, 4>{0x00, 0x00, 0x99, 0x49}));
}

TEST(FsuipcClient, CallsOnAClosedLinkAreRefused) {
  InMemoryFsuipc service;
  FsuipcClient client(service);
  FsuipcCode code = FsuipcCode::ok;
  std::array<uint8_t, 4> buffer{};
  EXPECT_FALSE(client.fsuipc_read(0x3304, 4, buffer, code));
  EXPECT_EQ(code, FsuipcCode::not_open);
  code = FsuipcCode::ok;
  EXPECT_FALSE(client.fsuipc_write(0x3304, buffer, code));
  EXPECT_EQ(code, FsuipcCode::not_open);
  code = FsuipcCode::ok;
  EXPECT_FALSE(client.fsuipc_process(code));
  EXPECT_EQ(code, FsuipcCode::not_open);
  client.fsuipc_close();  // harmless
  EXPECT_EQ(service.sends, 0);
}

class OpenClient : public ::testing::Test {
 protected:
  void SetUp() override {
    FsuipcCode code;
    ASSERT_TRUE(client.fsuipc_open(kAnySimulator, code));
    service.blocks.clear();
    service.writes.clear();
    service.sends = 0;
    service.waited_ms = 0;
  }
  InMemoryFsuipc service;
  FsuipcClient client{service};
};

TEST_F(OpenClient, ProcessWithNothingQueuedSendsNothing) {
  FsuipcCode code;
  EXPECT_FALSE(client.fsuipc_process(code));
  EXPECT_EQ(code, FsuipcCode::nothing_queued);
  EXPECT_EQ(service.sends, 0);
}

TEST_F(OpenClient, ReadsReachTheirOwnDestinationsAndWritesAreApplied) {
  service.write_offset(0x0BEC, 4, 0x11223344);
  service.write_offset(0x30E0, 2, 0x5566);
  service.write_offset(0x3107, 1, 0x77);
  for (int i = 0; i < 100; ++i) service.write_offset(static_cast<uint16_t>(0x4000 + i), 1, i);
  std::array<uint8_t, 4> leg{};
  std::array<uint8_t, 2> flaps{};
  std::array<uint8_t, 1> adf{};
  std::array<uint8_t, 100> big{};
  FsuipcCode code;
  ASSERT_TRUE(client.fsuipc_read(0x0BEC, 4, leg, code));
  ASSERT_TRUE(client.fsuipc_write(0x0D0C, std::vector<uint8_t>{0x3F, 0x00}, code));
  ASSERT_TRUE(client.fsuipc_read(0x30E0, 2, flaps, code));
  ASSERT_TRUE(client.fsuipc_read(0x3107, 1, adf, code));
  ASSERT_TRUE(client.fsuipc_read(0x4000, 100, big, code));
  ASSERT_TRUE(client.fsuipc_process(code));
  EXPECT_EQ(code, FsuipcCode::ok);
  EXPECT_EQ(leg, (std::array<uint8_t, 4>{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(flaps, (std::array<uint8_t, 2>{0x66, 0x55}));
  EXPECT_EQ(adf[0], 0x77);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(big[i], i);
  EXPECT_EQ(service.writes, (std::vector<InMemoryFsuipc::Write>{{0x0D0C, {0x3F, 0x00}}}));
  EXPECT_EQ(client.queued_bytes(), 0u);
}

TEST_F(OpenClient, AReadOfSizeZeroOrWithoutDestinationIsSentButCopiesNothing) {
  service.write_offset(0x0BEC, 4, 0x11223344);
  std::array<uint8_t, 4> untouched{0xEE, 0xEE, 0xEE, 0xEE};
  FsuipcCode code;
  ASSERT_TRUE(client.fsuipc_read(0x0BEC, 0, untouched, code));
  ASSERT_TRUE(client.fsuipc_read(0x0BEC, 4, {}, code));
  ASSERT_TRUE(client.fsuipc_process(code));
  EXPECT_EQ(untouched, (std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE}));
  ASSERT_EQ(service.blocks.size(), 1u);
  // Both records went out: 16 + 0, 16 + 4, terminator; the second without a destination.
  EXPECT_EQ(service.blocks[0].size(), 40u);
  EXPECT_EQ(get_le32(service.blocks[0], 16 + 12), 0u);
}

TEST_F(OpenClient, RequestsThatWouldPassTheLimitAreRefusedAndTheQueueStays) {
  struct Case {
    std::string name;
    uint32_t first_read;  // bytes of a first read that fits
    bool write_fits;      // whether a following 2-byte write still fits
  };
  // 0x7F00 bytes for requests and terminator: 16 + n + 4 for the read, 12 + 2 for the write.
  const std::vector<Case> cases = {
      {"the write ends exactly at the limit", 0x7F00 - 16 - 14 - 4, true},
      {"the write passes the limit by one byte", 0x7F00 - 16 - 14 - 4 + 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> data(c.first_read, 0xEE);
    FsuipcCode code;
    ASSERT_TRUE(client.fsuipc_read(0x0000, c.first_read, data, code));
    EXPECT_EQ(client.fsuipc_write(0x0D0C, std::vector<uint8_t>{1, 2}, code), c.write_fits);
    EXPECT_EQ(code, c.write_fits ? FsuipcCode::ok : FsuipcCode::block_full);
    ASSERT_TRUE(client.fsuipc_process(code)) << "what was queued before stays queued";
    EXPECT_EQ(data[0x3304], 0x00);
    EXPECT_EQ(data[0x3306], 0x99);
  }
  FsuipcCode code;
  std::vector<uint8_t> none;
  const std::vector<uint32_t> too_big = {0x7F00 - 16 - 4 + 1, 0xFFFFFFF0u, 0xFFFFFFFFu};
  for (uint32_t size : too_big) {
    EXPECT_FALSE(client.fsuipc_read(0, size, none, code)) << size;
    EXPECT_EQ(code, FsuipcCode::block_full);
  }
  EXPECT_EQ(client.queued_bytes(), 0u);
}

TEST_F(OpenClient, SendsTenTimesWithAWaitAfterEachFailure) {
  struct Case {
    int failing;
    uint32_t error;
    FsuipcCode code;
  };
  for (const Case c : {Case{10, 0, FsuipcCode::timed_out}, Case{10, 1400, FsuipcCode::send_failed},
                       Case{3, 1460, FsuipcCode::ok}, Case{11, 0, FsuipcCode::timed_out}}) {
    service.sends = 0;
    service.waited_ms = 0;
    service.faults.failing_sends = c.failing;
    service.faults.send_error = c.error;
    std::array<uint8_t, 4> buffer{};
    FsuipcCode code;
    ASSERT_TRUE(client.fsuipc_read(0x3304, 4, buffer, code));
    EXPECT_EQ(client.fsuipc_process(code), c.code == FsuipcCode::ok);
    EXPECT_EQ(code, c.code);
    const int failed = std::min(c.failing, 10);
    EXPECT_EQ(service.sends, std::min(c.failing + 1, 10));
    EXPECT_EQ(service.waited_ms, 100u * failed);
    // The queue is consumed either way.
    EXPECT_FALSE(client.fsuipc_process(code));
    EXPECT_EQ(code, FsuipcCode::nothing_queued);
    service.faults.failing_sends = 0;
  }
}

TEST_F(OpenClient, AnAnswerOtherThanOneIsBadData) {
  for (int64_t answer : {0, 2, -1}) {
    service.faults.answer = answer;
    std::array<uint8_t, 4> buffer{0xEE, 0xEE, 0xEE, 0xEE};
    FsuipcCode code;
    ASSERT_TRUE(client.fsuipc_read(0x3304, 4, buffer, code));
    EXPECT_FALSE(client.fsuipc_process(code));
    EXPECT_EQ(code, FsuipcCode::bad_data);
    EXPECT_EQ(buffer, (std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_TRUE(client.is_open()) << "a failed process does not close the link";
  }
}

TEST_F(OpenClient, AServerThatCorruptsTheBlockCannotMakeTheWalkOverrun) {
  const std::vector<std::pair<std::string, std::function<void(std::span<uint8_t>)>>> cases = {
      {"size of the first read set huge", [](std::span<uint8_t> b) { put_le32(b, 8, 0x7FFFFFFF); }},
      {"size of the second read grown",
       [](std::span<uint8_t> b) { put_le32(b, 20 + 8, 0x8000 - 36 + 1); }},
      {"destination pointed elsewhere", [](std::span<uint8_t> b) { put_le32(b, 12, 0x00401000); }},
      {"terminator replaced by a write that fills the block",
       [](std::span<uint8_t> b) {
         put_le32(b, 40, 2);
         put_le32(b, 44, 0);
         put_le32(b, 48, 0x8000 - 52);
       }},
  };
  for (const auto& [name, corrupt] : cases) {
    SCOPED_TRACE(name);
    service.after_process = corrupt;
    std::array<uint8_t, 4> first{0xEE, 0xEE, 0xEE, 0xEE};
    std::array<uint8_t, 4> second{0xEE, 0xEE, 0xEE, 0xEE};
    FsuipcCode code;
    ASSERT_TRUE(client.fsuipc_read(0x3304, 4, first, code));
    ASSERT_TRUE(client.fsuipc_read(0x3308, 4, second, code));
    EXPECT_FALSE(client.fsuipc_process(code));
    EXPECT_EQ(code, FsuipcCode::bad_data);
    EXPECT_EQ(first, (std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(second, (std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE}));
  }
}

TEST_F(OpenClient, CloseReleasesEverythingAndCanBeRepeated) {
  EXPECT_EQ(service.atoms_held(), 1);
  EXPECT_EQ(service.mappings_held(), 1);
  EXPECT_EQ(service.views_held(), 1);
  client.fsuipc_close();
  expect_released(service);
  EXPECT_FALSE(client.is_open());
  client.fsuipc_close();
  expect_released(service);
  FsuipcCode code;
  EXPECT_TRUE(client.fsuipc_open(kAnySimulator, code)) << "closed cleanly, opens again";
}

TEST(FsuipcClient, ErrorTextsAreFsuipcsOwn) {
  const std::vector<std::pair<uint32_t, std::string>> texts = {
      {0, "Ok"},
      {1, "Attempt to Open when already Open"},
      {2, "Cannot link to FSUIPC or WideClient"},
      {3, "Failed to Register common message with Windows"},
      {4, "Failed to create Atom for mapping filename"},
      {5, "Failed to create a file mapping object"},
      {6, "Failed to open a view to the file map"},
      {7, "Incorrect version of FSUIPC, or not FSUIPC"},
      {8, "Sim is not version requested"},
      {9, "Call cannot execute, link not Open"},
      {10, "Call cannot execute: no requests accumulated"},
      {11, "IPC timed out all retries"},
      {12, "IPC sendmessage failed all retries"},
      {13, "IPC request contains bad data"},
      {14, "Maybe running on WideClient, but FS not running on Server, or wrong FSUIPC"},
      {15, "Read or Write request cannot be added, memory for Process is full"},
      {16, ""},
      {0xFFFFFFFF, ""},
  };
  for (const auto& [code, text] : texts) {
    EXPECT_EQ(fsuipc_error_text(static_cast<FsuipcCode>(code)), text) << code;
  }
}

}  // namespace
}  // namespace tarvion
