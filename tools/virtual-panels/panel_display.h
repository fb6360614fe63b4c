// What a virtual panel shows: its digits, decimal points, lamps and brightness,
// decoded from the output reports Tarvion writes to it. The window draws this.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace virtual_panels {

struct Digit {
  char ch = ' ';       // '0'..'9', ' ' for a blank (dark) digit, '?' for a code above 10
  bool point = false;  // the decimal point after (right of) this digit
};

struct Lamp {
  std::string label;
  bool on = false;
};

struct PanelView {
  uint16_t kind = 0;
  std::vector<std::vector<Digit>> rows;  // displays top to bottom, digits left to right
  std::vector<Lamp> lamps;
  int bright = 0;     // the brightness byte of the last report; 0 before any
  bool told = false;  // a report has arrived
};

// A panel that has not been told anything yet: every digit and lamp dark.
PanelView initial_view(uint16_t kind);

// Takes one output report (report-ID byte first) into the view; false for a
// report too short to read (the view stays as it was).
bool apply_output(PanelView& view, const std::vector<uint8_t>& report);

// One line of what the view shows: "[118.000] [119.000] lamps - bright 121".
std::string shown_text(const PanelView& view);

// How strongly lit segments glow for a brightness byte: 0..1, full at 121 and above.
double glow(int bright);

}  // namespace virtual_panels
