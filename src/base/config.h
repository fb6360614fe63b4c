// The configuration values read once from Tarvion.ini at start-up (plain data).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tarvion {

// (first, second) base_input values of one panel kind; first goes to the panel
// with the lower device number. (0, 0) when the FIRST_DEVICE_ key is absent.
struct BasePair {
  uint16_t first = 0;
  uint16_t second = 0;
  bool operator==(const BasePair&) const = default;
};

struct Config {
  // Not reset by the loader: empty or 0 until a line sets them.
  std::string zemp_port_text;  // ZEMP_PORT, shown as text, converted at start-up
  std::string zemp_host;       // ZEMP_HOST
  int32_t zemp_timeout = 0;    // ZEMP_TIMEOUT, read and kept; nothing uses it
  BasePair com_pair, nav_pair, adf_pair, rmp_pair;

  // Reset to these defaults at every load.
  bool zemp_mode = false;  // XPLANE
  bool all_lights = true;  // RTREN
  int32_t trim_factor = 300;
  int32_t mflaps = 30;
  std::array<int32_t, 7> start_values{118000, 118000, 10800, 10800, 1000, 1000, 1200};
  // ACTIVE_COM1 .. ACTIVE_ATC
  std::array<bool, 7> active_write{true, true, true, true, true, true, true};
  bool start_to_tray = true;  // MINIMIZED
  bool emulate_test = true;
  bool reverse_sw = false;
  bool reverse_panel = false;
  bool com_frec_5 = true;
  // FOLLOW_SIM: radio values the simulator reports become the panels' active
  // values; off, the panels alone set the radios.
  bool follow_sim = false;
};

}  // namespace tarvion
