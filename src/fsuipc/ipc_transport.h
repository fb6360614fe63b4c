// The inter-process services the FSUIPC client relies on: the server's window,
// a registered message, a global atom naming a shared block, and a blocking
// send with a time-out. One implementation per platform (Win32, in-memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tarvion {

// A top-level window of another process; kNoIpcWindow when none was found.
using IpcWindow = std::uint64_t;
inline constexpr IpcWindow kNoIpcWindow = 0;

// A named shared-memory object; kNoIpcMapping when creation failed.
using IpcMapping = std::uint64_t;
inline constexpr IpcMapping kNoIpcMapping = 0;

// All calls on the main thread. Failures are return values, never exceptions;
// last_error() then holds the system's code for the latest failure (0 when the
// system gave none, which the client tells apart from real errors).
class IpcTransport {
 public:
  virtual ~IpcTransport() = default;

  // A top-level window of this class, whatever its title.
  virtual IpcWindow find_window(const std::string& window_class) = 0;

  // The system-wide number of a named window message; 0 on failure.
  virtual uint32_t register_message(const std::string& name) = 0;

  // A global atom holding name, the way the server learns the block's name;
  // 0 on failure.
  virtual uint16_t add_atom(const std::string& name) = 0;
  virtual void delete_atom(uint16_t atom) = 0;

  // Creates a named read-write shared block of size bytes backed by the
  // paging file. When an object of that name existed already the handle is
  // still returned (it must be closed) and already_existed is set.
  virtual IpcMapping create_mapping(const std::string& name, std::size_t size,
                                    bool& already_existed) = 0;
  // A writable view of the whole block; empty on failure.
  virtual std::span<uint8_t> map_view(IpcMapping mapping) = 0;
  virtual void unmap_view(std::span<uint8_t> view) = 0;
  virtual void close_mapping(IpcMapping mapping) = 0;

  // Sends message with its two parameters and blocks until the window's
  // process answered it or timeout_ms passed. False: not delivered or timed
  // out (last_error() tells which); true: answer holds the reply.
  virtual bool send_message(IpcWindow window, uint32_t message, uint64_t wparam, int64_t lparam,
                            uint32_t timeout_ms, int64_t& answer) = 0;

  // The system's code of the latest failed call, 0 when it gave none.
  virtual uint32_t last_error() = 0;

  // Blocks the calling thread (the virtual platform only counts).
  virtual void wait(uint32_t milliseconds) = 0;

  // This process's identifier (it names the shared block).
  virtual uint32_t process_id() = 0;
};

}  // namespace tarvion
