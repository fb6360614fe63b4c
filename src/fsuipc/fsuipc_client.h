// The FSUIPC client: opens the link to FSUIPC or WideClient, queues read and
// write requests in the shared block and has the server process them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "fsuipc/fsuipc_block.h"
#include "fsuipc/fsuipc_codes.h"
#include "fsuipc/ipc_transport.h"

namespace tarvion {

// Simulator codes of fs_version's low 16 bits; 0 asks for any simulator.
inline constexpr uint32_t kAnySimulator = 0;

// The shared block's name for a process: "FsasmLib:IPC:<pid in hex>:1".
std::string fsuipc_block_name(uint32_t process_id);

// Every operation reports through result and never throws. Main thread only.
class FsuipcClient {
 public:
  static constexpr uint32_t library_version = 1004;

  // close_requested, read before each further try of a send, may be set by
  // another thread (a close arrives while a send blocks the main thread).
  explicit FsuipcClient(IpcTransport& ipc, std::function<bool()> close_requested = {})
      : ipc_(ipc), close_requested_(std::move(close_requested)) {}
  ~FsuipcClient() { fsuipc_close(); }
  FsuipcClient(const FsuipcClient&) = delete;
  FsuipcClient& operator=(const FsuipcClient&) = delete;

  bool fsuipc_open(uint32_t requested_sim, FsuipcCode& result);
  // Releases everything acquired; harmless when nothing is open.
  void fsuipc_close();

  // Queues a read of size bytes at offset. The data go to destination when
  // the block is processed (at most destination.size() bytes; an empty
  // destination takes nothing). destination must stay valid until then.
  bool fsuipc_read(uint32_t offset, uint32_t size, std::span<uint8_t> destination,
                   FsuipcCode& result);
  // Queues a write of the source bytes at offset (copied at once).
  bool fsuipc_write(uint32_t offset, std::span<const uint8_t> source, FsuipcCode& result);
  // Sends the queued requests and copies the read data to their destinations.
  // The queue is empty afterwards, whatever the outcome.
  bool fsuipc_process(FsuipcCode& result);

  bool is_open() const { return !block_.empty(); }
  uint32_t fsuipc_version() const { return fsuipc_version_; }
  uint32_t fs_version() const { return fs_version_; }
  // Bytes queued so far (block_next - block_base).
  std::size_t queued_bytes() const { return block_next_; }

 private:
  bool fail(FsuipcCode code, FsuipcCode& result);
  bool fits(std::size_t record_size) const;
  bool read_versions(FsuipcCode& result);

  IpcTransport& ipc_;
  std::function<bool()> close_requested_;
  uint32_t fsuipc_version_ = 0;
  uint32_t fs_version_ = 0;
  IpcWindow server_window_ = kNoIpcWindow;
  uint32_t ipc_message_ = 0;
  uint16_t ipc_atom_ = 0;
  IpcMapping mapping_ = kNoIpcMapping;
  std::span<uint8_t> block_;    // empty while the link is not open
  std::size_t block_next_ = 0;  // where the next request goes
  std::vector<PendingRead> pending_reads_;
};

}  // namespace tarvion
