// A radio context with its own state, panel lists and options, set up as the
// program sets them at start-up, for driving the radio logic in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/config.h"
#include "radio/display.h"
#include "radio/input_decoding.h"
#include "radio/panels.h"

namespace tarvion::test {

struct RadioRig {
  Config config;
  RadioState state;
  PanelLists lists;
  RadioContext ctx{state, lists, config};

  RadioRig() {
    state.radio_value = {118000, 118000, 10800, 10800, 1000, 1000, 1200};
    state.flaps_step = 99999;
  }

  // As panel discovery does it: listed, composed blank, active values loaded.
  c_rad& attach(uint16_t kind, uint16_t number, uint16_t base_input = 0) {
    lists.radios.push_back(std::make_unique<c_rad>(make_c_rad(kind, number, base_input)));
    c_rad& rad = *lists.radios.back();
    compose_display(ctx, rad, DisplayFill::blank);
    load_active_values(state, rad);
    return rad;
  }

  c_efis& attach_switch_panel(uint16_t number) {
    lists.switches.push_back(std::make_unique<c_efis>());
    lists.switches.back()->number = number;
    return *lists.switches.back();
  }

  void report(uint16_t kind, uint16_t number, const std::vector<uint8_t>& payload) {
    decode_input_report(ctx, kind, number, payload.data(), payload.size());
  }

  void clear_marks() {
    for (auto& r : lists.radios) r->display_changed = r->leds_changed = 0;
    for (auto& e : lists.switches) e->changed = 0;
    state.radio_dirty.fill(0);
    state.switch_dirty.fill(0);
  }
};

// Payload of a kind 8 or 17 panel whose input word has the given bits active.
inline std::vector<uint8_t> word_payload(uint16_t word) {
  return {static_cast<uint8_t>(~(word >> 8)), static_cast<uint8_t>(~word)};
}

// Payload byte with the given input bits active (the panels are active low).
inline uint8_t active(uint8_t bits) {
  return static_cast<uint8_t>(~bits);
}

}  // namespace tarvion::test
