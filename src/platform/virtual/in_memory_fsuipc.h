// An FSUIPC service in memory for tests and demos: a 64 KiB offset space that
// answers request blocks as FSUIPC does, a small simulator that moves gear
// and flaps, and the faults a real service or system can show.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fsuipc/ipc_transport.h"

namespace tarvion {

class InMemoryFsuipc : public IpcTransport {
 public:
  InMemoryFsuipc();

  // --- The service --------------------------------------------------------
  // Class of the server's window; empty: no service runs.
  std::string window_class = "UIPCMAIN";
  uint32_t pid = 0x1A2C;  // the client's process identifier

  // The version words at 0x3304 and 0x3308 (default: a current FSUIPC on FSX).
  // They stay as set whatever a client writes there.
  void set_versions(uint32_t fsuipc_version, uint32_t fs_version);
  // What the client wrote at 0x330A (FSUIPC takes it without changing the
  // simulator word that 0x3308 reads back).
  uint16_t library_version = 0;

  // The offset space, little-endian; size 1, 2 or 4.
  uint32_t read_offset(uint16_t offset, int size) const;
  void write_offset(uint16_t offset, int size, uint32_t value);

  // --- The simulator --------------------------------------------------------
  void set_gear_legs(int32_t leg1, int32_t leg2, int32_t leg3);
  void set_flaps(uint16_t detent_increment, uint16_t position);
  // Moves the gear legs towards the lever (0x0BE8) and the flaps towards
  // their control (0x0BDC) for ms of simulated time; while the flaps move the
  // indicator (0x0BE0) follows them.
  void run_simulator(uint32_t ms);
  int32_t gear_units_per_ms = 4;  // a full travel in about 4 s
  int32_t flap_units_per_ms = 8;

  // Answers one request block found in the shared block named by the
  // message: performs its requests in place (or plays the faults below) and
  // returns what the server's window answers. A stand-in service in another
  // process calls it on the block it mapped.
  int64_t serve_block(std::span<uint8_t> block);

  // --- Faults -------------------------------------------------------------
  struct Faults {
    bool register_fails = false;
    bool atom_fails = false;
    bool mapping_fails = false;
    bool view_fails = false;
    int failing_sends = 0;          // the next sends fail ...
    uint32_t send_error = 0;        // ... leaving this last error (0: a time-out)
    std::optional<int64_t> answer;  // answer this without processing the block
  } faults;
  // Runs on the block after the service processed it, before it answers:
  // lets a test play a misbehaving server.
  std::function<void(std::span<uint8_t> block)> after_process;
  // Runs as each send begins: what another thread does while a real send
  // blocks the main thread (a close request, say).
  std::function<void()> during_send;

  // --- What happened ------------------------------------------------------
  // Each block as it arrived, up to and including its terminator.
  std::vector<std::vector<uint8_t>> blocks;
  struct Write {
    uint16_t offset;
    std::vector<uint8_t> bytes;
    bool operator==(const Write&) const = default;
  };
  std::vector<Write> writes;  // every write applied, in order
  int sends = 0;
  uint64_t waited_ms = 0;
  int atoms_held() const { return static_cast<int>(atoms_.size()); }
  int mappings_held() const;  // handles not yet closed
  int views_held() const { return static_cast<int>(views_.size()); }

  // --- IpcTransport -------------------------------------------------------
  IpcWindow find_window(const std::string& window_class) override;
  uint32_t register_message(const std::string& name) override;
  uint16_t add_atom(const std::string& name) override;
  void delete_atom(uint16_t atom) override;
  IpcMapping create_mapping(const std::string& name, std::size_t size,
                            bool& already_existed) override;
  std::span<uint8_t> map_view(IpcMapping mapping) override;
  void unmap_view(std::span<uint8_t> view) override;
  void close_mapping(IpcMapping mapping) override;
  bool send_message(IpcWindow window, uint32_t message, uint64_t wparam, int64_t lparam,
                    uint32_t timeout_ms, int64_t& answer) override;
  uint32_t last_error() override { return last_error_; }
  void wait(uint32_t milliseconds) override { waited_ms += milliseconds; }
  uint32_t process_id() override { return pid; }

  static constexpr IpcWindow kServerWindow = 0x10010;
  static constexpr uint32_t kIpcMessage = 0xC1F0;

 private:
  // Records the block and, with perform, carries out its requests in place;
  // false at a record it cannot take.
  bool process_block(std::span<uint8_t> block, bool perform);
  void drop_unused_objects();

  std::array<uint8_t, 0x10000> memory_{};
  uint32_t fsuipc_version_ = 0;
  uint32_t fs_version_ = 0;
  std::map<uint16_t, std::string> atoms_;
  std::map<std::string, std::shared_ptr<std::vector<uint8_t>>> objects_;  // by name
  std::map<IpcMapping, std::shared_ptr<std::vector<uint8_t>>> handles_;
  IpcMapping next_handle_ = 0x100;
  uint16_t next_atom_ = 0xC000;
  std::vector<std::shared_ptr<std::vector<uint8_t>>> views_;
  uint32_t last_error_ = 0;
};

}  // namespace tarvion
