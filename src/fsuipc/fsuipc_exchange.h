// The FSUIPC exchange: reads gear and flap state into the switch panel's
// lights, display and flaps step, then writes the marked radio and switch
// panel values to their offsets.
#pragma once

#include <array>
#include <cstdint>

#include "fsuipc/fsuipc_client.h"
#include "radio/panels.h"

namespace tarvion {

struct FsuipcReadEntry {
  uint8_t size = 0;
  uint16_t offset = 0;
  std::array<uint8_t, 4> buffer{};  // receive buffer, first `size` bytes used
  int32_t current = 0;
  int32_t previous = 99999;  // so the first read of each entry counts as a change
};

inline constexpr std::size_t kFsuipcReadEntries = 6;
using FsuipcReadTable = std::array<FsuipcReadEntry, kFsuipcReadEntries>;

class FsuipcExchange {
 public:
  FsuipcExchange(FsuipcClient& client, RadioContext ctx) : client_(client), ctx_(ctx) {}

  // Start-up: values read := 0, previous copies := 99999.
  void reset_exchange_state();
  void fill_fsuipc_read_table();

  // One exchange. False when the write exchange failed (the link is lost);
  // a failed read goes unnoticed.
  bool fsuipc_exchange();

  const FsuipcReadTable& fsuipc_read_table() const { return table_; }

 private:
  void read_simulator();
  void update_switch_panel();
  int queue_radio_writes();
  int queue_switch_writes();
  // Queues value's low `size` bytes; 1 when queued, 0 when refused.
  int queue_write(uint16_t offset, uint8_t size, int64_t value);

  FsuipcClient& client_;
  RadioContext ctx_;
  FsuipcReadTable table_{};
};

}  // namespace tarvion
