#include "fsuipc/fsuipc_client.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tarvion {

namespace {

constexpr uint32_t kVersionOffset = 0x3304;
constexpr uint32_t kSimOffset = 0x3308;
constexpr uint32_t kLibraryOffset = 0x330A;
constexpr uint32_t kMinimumFsuipc = 0x19980005;
constexpr uint32_t kSimMark = 0xFADE;
constexpr int kOpenPasses = 5;
constexpr int kSends = 10;
constexpr uint32_t kSendTimeoutMs = 2000;
constexpr uint32_t kRetryWaitMs = 100;

}  // namespace

std::string fsuipc_block_name(uint32_t process_id) {
  char name[40];
  std::snprintf(name, sizeof name, "FsasmLib:IPC:%X:1", static_cast<unsigned>(process_id));
  return name;
}

bool FsuipcClient::fail(FsuipcCode code, FsuipcCode& result) {
  fsuipc_close();
  result = code;
  return false;
}

bool FsuipcClient::fsuipc_open(uint32_t requested_sim, FsuipcCode& result) {
  if (is_open()) {
    result = FsuipcCode::already_open;
    return false;
  }
  fsuipc_version_ = 0;
  fs_version_ = 0;

  // WideClient and older FSUIPC builds only offer the FS98 class.
  bool fallback = false;
  server_window_ = ipc_.find_window("UIPCMAIN");
  if (server_window_ == kNoIpcWindow) {
    server_window_ = ipc_.find_window("FS98MAIN");
    fallback = true;
  }
  if (server_window_ == kNoIpcWindow) return fail(FsuipcCode::no_server, result);

  ipc_message_ = ipc_.register_message("FsasmLib:IPC");
  if (ipc_message_ == 0) return fail(FsuipcCode::register_failed, result);

  const std::string name = fsuipc_block_name(ipc_.process_id());
  ipc_atom_ = ipc_.add_atom(name);
  if (ipc_atom_ == 0) return fail(FsuipcCode::atom_failed, result);

  // A block of our name that exists already belongs to someone else (or to a
  // run of ours that never cleaned up); sharing it would mix two queues.
  bool existed = false;
  mapping_ = ipc_.create_mapping(name, kFsuipcBlockSize, existed);
  if (mapping_ == kNoIpcMapping || existed) return fail(FsuipcCode::mapping_failed, result);

  std::span<uint8_t> view = ipc_.map_view(mapping_);
  if (view.empty()) return fail(FsuipcCode::view_failed, result);
  if (view.size() < kFsuipcBlockSize) {
    ipc_.unmap_view(view);
    return fail(FsuipcCode::view_failed, result);
  }
  block_ = view.first(kFsuipcBlockSize);
  block_next_ = 0;
  pending_reads_.clear();

  if (!read_versions(result)) return fail(result, result);

  if (fsuipc_version_ >= kMinimumFsuipc && (fs_version_ >> 16) == kSimMark) {
    fs_version_ &= 0xFFFF;
    if (requested_sim != kAnySimulator && requested_sim != fs_version_) {
      return fail(FsuipcCode::wrong_sim, result);
    }
    result = FsuipcCode::ok;
    return true;
  }
  return fail(fallback ? FsuipcCode::no_fs_on_server : FsuipcCode::wrong_fsuipc, result);
}

bool FsuipcClient::read_versions(FsuipcCode& result) {
  // The server may not have its values ready at once: ask again a few times.
  for (int pass = 0; pass < kOpenPasses && (fsuipc_version_ == 0 || fs_version_ == 0); ++pass) {
    std::array<uint8_t, 4> version{};
    std::array<uint8_t, 4> sim{};
    if (!fsuipc_read(kVersionOffset, 4, version, result)) return false;
    if (!fsuipc_read(kSimOffset, 4, sim, result)) return false;
    if (pass == 0) {
      const std::array<uint8_t, 2> library{static_cast<uint8_t>(library_version & 0xFF),
                                           static_cast<uint8_t>((library_version >> 8) & 0xFF)};
      if (!fsuipc_write(kLibraryOffset, library, result)) return false;
    }
    const bool processed = fsuipc_process(result);
    ipc_.wait(kRetryWaitMs);
    if (!processed) return false;
    fsuipc_version_ = get_le32(version, 0);
    fs_version_ = get_le32(sim, 0);
  }
  return true;
}

void FsuipcClient::fsuipc_close() {
  server_window_ = kNoIpcWindow;
  ipc_message_ = 0;
  block_next_ = 0;
  pending_reads_.clear();
  if (ipc_atom_ != 0) {
    ipc_.delete_atom(ipc_atom_);
    ipc_atom_ = 0;
  }
  if (!block_.empty()) {
    ipc_.unmap_view(block_);
    block_ = {};
  }
  if (mapping_ != kNoIpcMapping) {
    ipc_.close_mapping(mapping_);
    mapping_ = kNoIpcMapping;
  }
}

bool FsuipcClient::fits(std::size_t record_size) const {
  // 64-bit sum: a size near 4 GiB must not wrap round to a small one.
  return static_cast<uint64_t>(block_next_) + record_size + kFsuipcTerminator <= kFsuipcBlockLimit;
}

bool FsuipcClient::fsuipc_read(uint32_t offset, uint32_t size, std::span<uint8_t> destination,
                               FsuipcCode& result) {
  if (!is_open()) {
    result = FsuipcCode::not_open;
    return false;
  }
  if (!fits(kFsuipcReadHeader + static_cast<uint64_t>(size))) {
    result = FsuipcCode::block_full;
    return false;
  }
  uint32_t reference = 0;
  if (!destination.empty()) {
    pending_reads_.push_back(PendingRead{size, destination});
    reference = static_cast<uint32_t>(pending_reads_.size());
  }
  put_le32(block_, block_next_, kFsuipcReadId);
  put_le32(block_, block_next_ + 4, offset);
  put_le32(block_, block_next_ + 8, size);
  put_le32(block_, block_next_ + 12, reference);
  std::fill_n(block_.begin() + static_cast<std::ptrdiff_t>(block_next_ + kFsuipcReadHeader), size,
              uint8_t{0});
  block_next_ += kFsuipcReadHeader + size;
  result = FsuipcCode::ok;
  return true;
}

bool FsuipcClient::fsuipc_write(uint32_t offset, std::span<const uint8_t> source,
                                FsuipcCode& result) {
  if (!is_open()) {
    result = FsuipcCode::not_open;
    return false;
  }
  if (!fits(kFsuipcWriteHeader + static_cast<uint64_t>(source.size()))) {
    result = FsuipcCode::block_full;
    return false;
  }
  put_le32(block_, block_next_, kFsuipcWriteId);
  put_le32(block_, block_next_ + 4, offset);
  put_le32(block_, block_next_ + 8, static_cast<uint32_t>(source.size()));
  std::copy(source.begin(), source.end(),
            block_.begin() + static_cast<std::ptrdiff_t>(block_next_ + kFsuipcWriteHeader));
  block_next_ += kFsuipcWriteHeader + source.size();
  result = FsuipcCode::ok;
  return true;
}

bool FsuipcClient::fsuipc_process(FsuipcCode& result) {
  if (!is_open()) {
    result = FsuipcCode::not_open;
    return false;
  }
  if (block_next_ == 0) {
    result = FsuipcCode::nothing_queued;
    return false;
  }
  put_le32(block_, block_next_, 0);
  // The requests are consumed from here on, whatever the outcome.
  block_next_ = 0;
  const std::vector<PendingRead> reads = std::move(pending_reads_);
  pending_reads_.clear();

  bool sent = false;
  int64_t answer = 0;
  for (int i = 0; i < kSends && !sent; ++i) {
    sent = ipc_.send_message(server_window_, ipc_message_, ipc_atom_, 0, kSendTimeoutMs, answer);
    // Ten tries of two seconds would outlast the few seconds a closing console
    // or a logoff leaves: once a close is requested the try in hand is the last.
    if (!sent && close_requested_ && close_requested_()) break;
    if (!sent) ipc_.wait(kRetryWaitMs);
  }
  if (!sent) {
    result = ipc_.last_error() == 0 ? FsuipcCode::timed_out : FsuipcCode::send_failed;
    return false;
  }
  if (answer != 1 || !copy_answered_reads(block_, reads)) {
    result = FsuipcCode::bad_data;
    return false;
  }
  result = FsuipcCode::ok;
  return true;
}

}  // namespace tarvion
