// The FSUIPC exchange: reads gear and flap state into the switch panel's
// lights, display and flaps step (with FOLLOW_SIM the radios too), then
// writes the marked radio and switch panel values to their offsets.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

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

// One radio's frequency words read back from the simulator (FOLLOW_SIM), the
// main word low, the ADF's extended word high.
struct FsuipcRadioEcho {
  std::array<uint8_t, 4> buffer{};  // receive buffer of the two words
  std::optional<uint32_t> last_read;
  // The words of radio_value as the writes last put them there, or as taken
  // from the simulator (which the next write then repeats).
  std::optional<uint32_t> last_value;
};

class FsuipcExchange {
 public:
  FsuipcExchange(FsuipcClient& client, RadioContext ctx) : client_(client), ctx_(ctx) {}

  // Start-up: values read := 0, previous copies := 99999, no radio read back yet.
  void reset_exchange_state();
  void fill_fsuipc_read_table();

  // One exchange. False when the write exchange failed (the link is lost);
  // a failed read goes unnoticed.
  bool fsuipc_exchange();

  const FsuipcReadTable& fsuipc_read_table() const { return table_; }

 private:
  // False when the read exchange failed.
  bool read_simulator();
  void update_switch_panel();
  void queue_radio_reads();
  void follow_simulator_radios();
  int queue_radio_writes();
  int queue_switch_writes();
  // Queues value's low `size` bytes; 1 when queued, 0 when refused.
  int queue_write(uint16_t offset, uint8_t size, int64_t value);

  FsuipcClient& client_;
  RadioContext ctx_;
  FsuipcReadTable table_{};
  std::array<FsuipcRadioEcho, kRadioCount> echoes_{};
};

}  // namespace tarvion
