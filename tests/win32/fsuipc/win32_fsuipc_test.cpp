// The Win32 IPC transport and the real FSUIPC client against fsuipc-sim, a
// separate process with a real window, atom and shared block, under the
// faults a server or the system can show.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "fsuipc/fsuipc_client.h"
#include "platform/win32/win32_ipc_transport.h"
#include "sim_process.h"

namespace tarvion {
namespace {

using win32_test::SimProcess;
using Clock = std::chrono::steady_clock;

std::string own_block_name() {
  return fsuipc_block_name(GetCurrentProcessId());
}

// What a closed client must have given back: no atom or object of its name.
void expect_released() {
  EXPECT_EQ(GlobalFindAtomA(own_block_name().c_str()), 0) << "atom left behind";
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, own_block_name().c_str());
  EXPECT_EQ(mapping, nullptr) << "shared block left behind";
  if (mapping != nullptr) CloseHandle(mapping);
}

bool queue_and_process(FsuipcClient& client, uint32_t offset, std::vector<uint8_t> write,
                       std::span<uint8_t> read, FsuipcCode& code) {
  if (!write.empty() && !client.fsuipc_write(offset, write, code)) return false;
  if (!read.empty() && !client.fsuipc_read(offset, static_cast<uint32_t>(read.size()), read, code))
    return false;
  return client.fsuipc_process(code);
}

TEST(Win32Fsuipc, ClientWritesAndReadsOffsetsThroughEitherServerWindow) {
  for (const char* args : {"", "--fs98"}) {
    SCOPED_TRACE(std::string("fsuipc-sim ") + args);
    SimProcess sim(std::string(args) + " --travel-ms 400");
    ASSERT_TRUE(sim.ready()) << sim.state();
    Win32IpcTransport ipc;
    {
      FsuipcClient client(ipc);
      FsuipcCode code = FsuipcCode::bad_data;
      ASSERT_TRUE(client.fsuipc_open(kAnySimulator, code)) << fsuipc_error_text(code);
      EXPECT_EQ(client.fs_version(), 8u);  // the stand-in's FSX
      EXPECT_GE(client.fsuipc_version(), 0x19980005u);
      EXPECT_TRUE(sim.wait_line("0x330A client library version = 1004", 5000));

      // COM1 119.00 and the transponder 1200 land in the server's offsets and
      // read back; the gear it starts with (down and locked) reads as 16383.
      std::array<uint8_t, 2> com1{};
      std::array<uint8_t, 4> leg{};
      ASSERT_TRUE(queue_and_process(client, 0x034E, {0x00, 0x19}, com1, code))
          << fsuipc_error_text(code);
      ASSERT_TRUE(queue_and_process(client, 0x0354, {0x00, 0x12}, {}, code));
      ASSERT_TRUE(queue_and_process(client, 0x0BEC, {}, leg, code));
      EXPECT_EQ(com1, (std::array<uint8_t, 2>{0x00, 0x19}));
      EXPECT_EQ(leg, (std::array<uint8_t, 4>{0xFF, 0x3F, 0x00, 0x00}));
      EXPECT_TRUE(sim.wait_line("0x034E COM1 bytes 00 19 = 119.00 MHz", 5000));
      EXPECT_TRUE(sim.wait_line("0x0354 transponder bytes 00 12 = 1200", 5000));

      // The simulator's own gear moving shows in what the client reads.
      sim.command("gear up");
      ASSERT_TRUE(sim.wait_line("0x0BEC gear leg 1 bytes 00 00 00 00 = up", 10000));
      ASSERT_TRUE(queue_and_process(client, 0x0BEC, {}, leg, code));
      EXPECT_EQ(leg, (std::array<uint8_t, 4>{0, 0, 0, 0}));
    }
    expect_released();
  }
}

struct OpenFault {
  const char* name;
  std::optional<std::string> sim_args;  // no stand-in at all
  bool take_block_name;                 // another object already has our block's name
  FsuipcCode code;
};

TEST(Win32Fsuipc, OpenFailsWithTheCodeOfEachFaultAndLeavesNothingBehind) {
  const OpenFault faults[] = {
      {"no server window", std::nullopt, false, FsuipcCode::no_server},
      {"FSUIPC one build too old", "--version 19980004", false, FsuipcCode::wrong_fsuipc},
      {"WideClient with no simulator behind it", "--fs98 --version 19980004", false,
       FsuipcCode::no_fs_on_server},
      {"server answers 0", "--answer-zero", false, FsuipcCode::bad_data},
      {"server spoils the block", "--corrupt", false, FsuipcCode::bad_data},
      {"block name taken by a mapping", "", true, FsuipcCode::mapping_failed},
  };
  for (const OpenFault& fault : faults) {
    SCOPED_TRACE(fault.name);
    std::optional<SimProcess> sim;
    if (fault.sim_args) {
      sim.emplace(*fault.sim_args);
      ASSERT_TRUE(sim->ready()) << sim->state();
    }
    HANDLE taken = nullptr;
    if (fault.take_block_name) {
      taken = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                 own_block_name().c_str());
      ASSERT_NE(taken, nullptr);
    }
    Win32IpcTransport ipc;
    FsuipcClient client(ipc);
    FsuipcCode code = FsuipcCode::ok;
    EXPECT_FALSE(client.fsuipc_open(kAnySimulator, code));
    EXPECT_EQ(code, fault.code) << fsuipc_error_text(code);
    EXPECT_FALSE(client.is_open());
    if (taken != nullptr) CloseHandle(taken);
    expect_released();
  }
}

TEST(Win32IpcTransport, MappingAndViewFaultsComeBackAsValues) {
  Win32IpcTransport ipc;
  const std::string name = "Tarvion test block " + std::to_string(GetCurrentProcessId());

  // A name held by a smaller mapping: the handle comes back, marked as not
  // ours, and its view is as long as the mapping really is.
  HANDLE small =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
  ASSERT_NE(small, nullptr);
  bool existed = false;
  IpcMapping mapping = ipc.create_mapping(name, 0x8000, existed);
  ASSERT_NE(mapping, kNoIpcMapping);
  EXPECT_TRUE(existed);
  std::span<uint8_t> view = ipc.map_view(mapping);
  EXPECT_EQ(view.size(), 4096u);
  ipc.unmap_view(view);
  ipc.close_mapping(mapping);
  CloseHandle(small);

  // A fresh name: not existed, the whole block.
  mapping = ipc.create_mapping(name, 0x8000, existed);
  ASSERT_NE(mapping, kNoIpcMapping);
  EXPECT_FALSE(existed);
  view = ipc.map_view(mapping);
  EXPECT_EQ(view.size(), 0x8000u);
  ipc.unmap_view(view);
  ipc.close_mapping(mapping);

  // A name held by an object of another kind: no mapping, the system's code.
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(ipc.create_mapping(name, 0x8000, existed), kNoIpcMapping);
  EXPECT_EQ(ipc.last_error(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));

  // A handle that is not a mapping cannot be viewed.
  EXPECT_TRUE(ipc.map_view(reinterpret_cast<uintptr_t>(event)).empty());
  EXPECT_NE(ipc.last_error(), 0u);
  CloseHandle(event);
}

TEST(Win32Fsuipc, ServerThatStopsAnsweringBlocksAsLongAsTheRetriesThenTheLinkRecovers) {
  SimProcess sim("");
  ASSERT_TRUE(sim.ready()) << sim.state();
  Win32IpcTransport ipc;
  FsuipcClient client(ipc);
  FsuipcCode code = FsuipcCode::ok;
  ASSERT_TRUE(client.fsuipc_open(kAnySimulator, code)) << fsuipc_error_text(code);
  sim.command("answer off");
  ASSERT_TRUE(sim.wait_line("answering no more", 5000));

  // One send: back after its own time-out, not before and not much after.
  const IpcWindow window = ipc.find_window("UIPCMAIN");
  const uint32_t message = ipc.register_message("FsasmLib:IPC");
  int64_t answer = 0;
  auto start = Clock::now();
  EXPECT_FALSE(ipc.send_message(window, message, 0, 0, 500, answer));
  auto blocked = Clock::now() - start;
  EXPECT_GE(blocked, std::chrono::milliseconds(450));
  EXPECT_LT(blocked, std::chrono::milliseconds(5000));
  const uint32_t timeout_error = ipc.last_error();
  EXPECT_TRUE(timeout_error == 0 || timeout_error == ERROR_TIMEOUT) << timeout_error;

  // The client: ten sends of 2 s with 100 ms after each, then the code that
  // matches what the system said about the time-out.
  std::array<uint8_t, 4> version{};
  ASSERT_TRUE(client.fsuipc_read(0x3304, 4, version, code));
  start = Clock::now();
  EXPECT_FALSE(client.fsuipc_process(code));
  blocked = Clock::now() - start;
  EXPECT_GE(blocked, std::chrono::milliseconds(20500));
  EXPECT_LT(blocked, std::chrono::milliseconds(35000));
  EXPECT_EQ(code, timeout_error == 0 ? FsuipcCode::timed_out : FsuipcCode::send_failed);

  // Answering again: the same open link works without reopening.
  sim.command("answer on");
  ASSERT_TRUE(sim.wait_line("answering", 5000));
  ASSERT_TRUE(client.fsuipc_read(0x3304, 4, version, code));
  EXPECT_TRUE(client.fsuipc_process(code)) << fsuipc_error_text(code);
  EXPECT_EQ(version, (std::array<uint8_t, 4>{0x00, 0x00, 0x99, 0x49}));
}

}  // namespace
}  // namespace tarvion
