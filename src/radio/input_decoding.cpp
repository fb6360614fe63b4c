#include "radio/input_decoding.h"

#include <span>

#include "radio/panel_kinds.h"
#include "radio/radio_panel.h"
#include "radio/switch_panel.h"

namespace tarvion {

namespace {

// One active-low input of a single-radio panel and the word bits it stands for.
struct InputBit {
  uint8_t byte;
  uint8_t bit;
  uint32_t word_bits;
};

constexpr InputBit kComNavInputs[] = {
    {0, 0, 0x2},  {0, 1, 0x4}, {0, 2, 0x2000},  {0, 4, 0x80},
    {0, 5, 0x40}, {0, 6, 0x1}, {0, 7, 0x20000},
};

// As COM/NAV, but byte 0 bit 2 is the annunciator and bit 7 the ADF switch.
constexpr InputBit kAdfInputs[] = {
    {0, 0, 0x2},  {0, 1, 0x4}, {0, 2, 0x10000}, {0, 4, 0x80},
    {0, 5, 0x40}, {0, 6, 0x1}, {0, 7, 0x20000},
};

// Byte 0 bits 0 to 4 are the five positions of the transponder's mode switch.
constexpr InputBit kTransponderInputs[] = {
    {0, 0, 0x8}, {0, 1, 0x8},     {0, 2, 0x20},    {0, 3, 0x20}, {0, 4, 0x20}, {0, 5, 0x2},
    {0, 6, 0x4}, {0, 7, 0x10000}, {1, 0, 0x20000}, {1, 1, 0x40}, {1, 2, 0x80}, {1, 3, 0x2000},
};

uint8_t inverted(const uint8_t* data, size_t k) {
  return static_cast<uint8_t>(255 - data[k]);
}

// The bits are ORed, not added: a rotary switch touching two positions at
// once (or a bouncing contact) must not carry into a mode-select or encoder bit.
uint32_t single_radio_word(uint16_t base_input, std::span<const InputBit> layout,
                           const uint8_t* data) {
  uint32_t word = base_input;
  for (const InputBit& in : layout) {
    if (inverted(data, in.byte) & (1u << in.bit)) word |= in.word_bits;
  }
  return word;
}

uint32_t radio_word(InputLayout layout, uint16_t base_input, const uint8_t* data) {
  switch (layout) {
    case InputLayout::com_nav:
      return single_radio_word(base_input, kComNavInputs, data);
    case InputLayout::adf:
      return single_radio_word(base_input, kAdfInputs, data);
    case InputLayout::transponder:
      return single_radio_word(base_input, kTransponderInputs, data);
    default:
      return uint32_t{inverted(data, 0)} << 8 | inverted(data, 1);
  }
}

void route_radio_report(RadioContext& ctx, const PanelKindTraits& traits, uint16_t number,
                        const uint8_t* data) {
  for (size_t i = 0; i < ctx.lists.radios.size(); ++i) {
    c_rad& rad = *ctx.lists.radios[i];
    if (rad.number != number) continue;
    rad.input = radio_word(traits.input, rad.base_input, data);
    // The first report is always acted on: it is what starts the panel (an
    // RMP shows COM1, the knobs' positions are taken) even when no input is
    // active and its word is 0, the value last_input starts with.
    if (rad.input == rad.last_input && rad.started == 1) continue;
    rad.last_input = rad.input;
    if (traits.handler == InputHandler::rmp) {
      handle_rmp_input(ctx, rad);
    } else {
      handle_radio_input(ctx, rad);
    }
  }
}

void route_switch_report(RadioContext& ctx, uint16_t number, const uint8_t* data) {
  const uint16_t word_a = static_cast<uint16_t>(inverted(data, 0) | inverted(data, 1) << 8);
  // Only bits 0 to 3 of word_b carry inputs; the offset never touches them.
  const uint16_t word_b =
      static_cast<uint16_t>((inverted(data, 2) | inverted(data, 3) << 8) - 0x30F0);
  const uint16_t byte_c = data[4];
  for (size_t i = 0; i < ctx.lists.switches.size(); ++i) {
    c_efis& efis = *ctx.lists.switches[i];
    if (efis.number != number) continue;
    efis.word_a = word_a;
    efis.word_b = word_b;
    efis.byte_c = byte_c;
    // trim_last still holding its start value means no report was acted on
    // yet: the first one always sends the positions of all switches.
    const bool first = efis.trim_last == 99999;
    if (!first && word_a == efis.last_word_a && word_b == efis.last_word_b &&
        byte_c == efis.last_byte_c) {
      continue;
    }
    efis.last_word_a = word_a;
    efis.last_word_b = word_b;
    efis.last_byte_c = byte_c;
    handle_switch_input(ctx, efis);
  }
}

}  // namespace

void decode_input_report(RadioContext& ctx, uint16_t kind, uint16_t number, const uint8_t* data,
                         size_t size) {
  const PanelKindTraits& traits = kind_traits(kind);
  const size_t needed = traits.payload_bytes;
  // Unknown kinds, and reports too short for the layout, are not read at all.
  if (needed == 0 || data == nullptr || size < needed) return;
  if (traits.handler == InputHandler::switches) {
    route_switch_report(ctx, number, data);
  } else {
    route_radio_report(ctx, traits, number, data);
  }
}

}  // namespace tarvion
