// The result codes of the FSUIPC client and the texts the connect attempt
// shows for them in the status label.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarvion {

enum class FsuipcCode : uint32_t {
  ok = 0,
  already_open = 1,
  no_server = 2,
  register_failed = 3,
  atom_failed = 4,
  mapping_failed = 5,
  view_failed = 6,
  wrong_fsuipc = 7,
  wrong_sim = 8,
  not_open = 9,
  nothing_queued = 10,
  timed_out = 11,
  send_failed = 12,
  bad_data = 13,
  no_fs_on_server = 14,
  block_full = 15,
};

inline constexpr uint32_t kFsuipcCodeCount = 16;

// The fixed text of a code; empty for a number outside the 16 codes.
std::string_view fsuipc_error_text(FsuipcCode code);

}  // namespace tarvion
