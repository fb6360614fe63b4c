// What a virtual Pendra panel puts on the wire: its input report for the
// state of its knobs, buttons and switches (active low), and what an output
// report written to it would show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace virtual_panels {

// Kind names as the command line takes them ("com", ...) or a number.
std::optional<uint16_t> kind_of(const std::string& name);
std::string kind_name(uint16_t kind);

class PanelModel {
 public:
  explicit PanelModel(uint16_t kind);

  uint16_t kind() const { return kind_; }
  // Report lengths with the report-ID byte.
  uint16_t input_length() const;
  uint16_t output_length() const { return 9; }

  // The whole input report (report-ID byte 0 first) for the present state.
  std::vector<uint8_t> input_report() const;

  // One detent of an encoder ("outer", "inner", the switch panel's "trim");
  // step is +1 or -1. Each
  // detent moves the quadrature position, which is one report. False for a
  // knob the panel does not have.
  bool turn(const std::string& knob, int step);
  // A named button or switch input on or off; false when the panel has none.
  bool set_input(const std::string& name, bool active);
  // Whether a named button or switch input is active now.
  bool input_active(const std::string& name) const;
  // Whether a selector stands at this position now.
  bool selected(const std::string& position) const;
  // The position of a selector (the multi-radio panel's mode knob, the
  // transponder's mode switch); false when there is no such position.
  bool select(const std::string& position);
  // Payload bit n (byte n / 8, bit n % 8), in the active sense.
  bool set_bit(unsigned n, bool active);

  // One line telling what the panel shows after this output report.
  std::string describe_output(const std::vector<uint8_t>& report) const;

 private:
  struct Encoder {
    int bit_a = -1, bit_b = -1;  // payload bits of the two phases
    int position = 0;
    bool reversed = false;  // the RMP's inner knob counts the other way
  };
  Encoder* encoder(const std::string& knob);
  bool bit(unsigned n) const {
    return n / 8 < active_.size() && (active_[n / 8] >> (n % 8) & 1) != 0;
  }
  void apply(const Encoder& e);

  uint16_t kind_;
  std::vector<uint8_t> active_;  // payload bits, 1 = input active
  Encoder outer_, inner_, trim_;
};

}  // namespace virtual_panels
