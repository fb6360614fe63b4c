// The panel objects: c_rad for each attached radio panel, c_efis for each
// switch panel, and the lists that hold them (filled by the panel layer).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/config.h"
#include "radio/radio_state.h"

namespace tarvion {

class THidDevice;  // the HID layer's device; radio logic only carries the pointer

struct c_rad {
  // Valid only because thidctl::release_panel drops this object before the device.
  THidDevice* device = nullptr;
  uint16_t kind = 0;
  uint16_t number = 0;
  uint8_t display_changed = 0;
  uint8_t leds_changed = 0;
  uint8_t started = 0;
  uint32_t input = 0;
  uint32_t last_input = 0;
  int32_t shown_active = 0;
  int32_t shown_standby = 0;
  int32_t outer_pos = -1, inner_pos = -1;
  int32_t outer_last = -1, inner_last = -1;
  int32_t com1_active = 118000, com1_standby = 118000;
  int32_t com2_active = 118000, com2_standby = 118000;
  int32_t nav1_active = 10800, nav1_standby = 10800;
  int32_t nav2_active = 10800, nav2_standby = 10800;
  int32_t adf1_active = 1000, adf1_standby = 1000;
  int32_t adf2_active = 1000, adf2_standby = 1000;
  std::array<uint8_t, 6> digits{};
  uint8_t dots = 0;
  uint8_t bright = 121;
  uint8_t leds = 0;
  uint8_t cursor = 0;
  int32_t mode = 0;
  int32_t atc_active = 1200, atc_standby = 1200;
  uint8_t swap_latch = 0;
  uint16_t base_input = 0;
  uint8_t test = 0;
};

// A radio panel's mode: which radio it shows and edits. Numbers, because the
// switch flags and the display rules index and compare them (8 and 9 are the
// RMP's NAV1 and NAV2).
enum PanelMode : int32_t {
  kModeNone = 0,
  kModeCom1 = 1,
  kModeCom2 = 2,
  kModeNav1 = 3,
  kModeNav2 = 4,
  kModeAdf1 = 5,
  kModeAdf2 = 6,
  kModeTransponder = 7,
  kModeRmpNav1 = 8,
  kModeRmpNav2 = 9,
};

// A radio panel object with its creation values (its kind's first mode).
c_rad make_c_rad(uint16_t kind, uint16_t number, uint16_t base_input);

struct c_efis {
  // Valid only because thidctl::release_panel drops this object before the device.
  THidDevice* device = nullptr;
  uint16_t number = 0;
  uint8_t changed = 0;
  // The 8-byte output image, in wire order from bright on.
  uint8_t bright = 0;
  uint8_t digit_high = 0;
  uint8_t digit_low = 0;
  uint8_t leds = 0;
  std::array<uint8_t, 4> rest{};
  uint16_t word_a = 0, last_word_a = 0;
  uint16_t word_b = 0, last_word_b = 65535;
  uint16_t byte_c = 0, last_byte_c = 0;
  int32_t trim_pos = 0;
  int32_t trim_last = 99999;  // none seen yet
  // The flaps button bits of word_b as last acted on: a button steps the flaps
  // when it goes down, not again when another input changes while it is held.
  uint16_t flaps_last = 0;
};

struct PanelLists {
  std::vector<std::unique_ptr<c_rad>> radios;     // in order of discovery
  std::vector<std::unique_ptr<c_efis>> switches;  // in order of discovery
};

// What the radio logic works on: shared state, the panel lists and the options.
struct RadioContext {
  RadioState& state;
  PanelLists& lists;
  const Config& config;
};

// Copies radio_value[0..6] into a new panel's active fields.
void load_active_values(const RadioState& state, c_rad& rad);

}  // namespace tarvion
