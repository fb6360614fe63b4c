// The FSUIPC client's inter-process services on Windows: window lookup,
// registered message, global atom, paging-file mapping and a blocking send.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "fsuipc/ipc_transport.h"

namespace tarvion {

// Handles and window handles cross the seam as their numeric values. Every
// call is a thin wrapper: the client decides what a failure means.
class Win32IpcTransport : public IpcTransport {
 public:
  IpcWindow find_window(const std::string& window_class) override;
  uint32_t register_message(const std::string& name) override;
  uint16_t add_atom(const std::string& name) override;
  void delete_atom(uint16_t atom) override;
  IpcMapping create_mapping(const std::string& name, std::size_t size,
                            bool& already_existed) override;
  // The view spans the whole mapped region as the system reports it, which
  // for a mapping created elsewhere may be shorter than asked for.
  std::span<uint8_t> map_view(IpcMapping mapping) override;
  void unmap_view(std::span<uint8_t> view) override;
  void close_mapping(IpcMapping mapping) override;
  bool send_message(IpcWindow window, uint32_t message, uint64_t wparam, int64_t lparam,
                    uint32_t timeout_ms, int64_t& answer) override;
  uint32_t last_error() override { return last_error_; }
  void wait(uint32_t milliseconds) override;
  uint32_t process_id() override;

 private:
  // Taken right after the failing call: anything in between (the client's
  // waits, other calls) could overwrite the thread's last error.
  void keep_error();

  uint32_t last_error_ = 0;
};

}  // namespace tarvion
