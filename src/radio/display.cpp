#include "radio/display.h"

#include <algorithm>

#include "radio/panel_kinds.h"

namespace tarvion {

namespace {

constexpr uint8_t kBlank = 0xA;
constexpr uint8_t kBlankPair = 0xAA;

uint8_t low_byte(int32_t v) {
  return static_cast<uint8_t>(v & 0xFF);
}

// Packed form: position p (1..12) is a nibble of byte (p - 1) / 2, odd
// positions low, even positions high.
void put_packed(std::array<uint8_t, 6>& digits, int p, uint8_t digit) {
  uint8_t& byte = digits[static_cast<size_t>((p - 1) / 2)];
  byte = (p % 2 == 1) ? static_cast<uint8_t>((byte & 0xF0) | digit)
                      : static_cast<uint8_t>((byte & 0x0F) | (digit << 4));
}

// v with n digits, units at position p, zeros in front, higher digits
// dropped. A negative value (only a bad SET_ value can give one) has no digit
// form and leaves its field blank rather than sending a minus sign as a code.
template <typename Put>
void put_number(int32_t v, int n, Put put) {
  if (v < 0) return;
  for (int k = 0; k < n; ++k) {
    put(k, static_cast<uint8_t>(v % 10));
    v /= 10;
  }
}

void packed_field(c_rad& rad, int32_t v, int n, int p) {
  put_number(v, n, [&](int k, uint8_t d) { put_packed(rad.digits, p + k, d); });
}

// One-per-byte form (transponder): position p is byte p - 1.
void byte_field(c_rad& rad, int32_t v, int n, int p) {
  put_number(v, n, [&](int k, uint8_t d) { rad.digits[static_cast<size_t>(p - 1 + k)] = d; });
}

void both_displays(c_rad& rad, int32_t active, int32_t standby, int n, int standby_pos,
                   int active_pos = 1) {
  packed_field(rad, active, n, active_pos);
  packed_field(rad, standby, n, standby_pos);
}

bool shows_test(const RadioContext& ctx, const c_rad& rad) {
  return rad.test == 1 && ctx.config.emulate_test;
}

// Bit 0x04 of every RMP: lit while an RMP has just selected the COM radio that
// is not its own.
void own_radio_rule(RadioContext& ctx, c_rad& rad, bool foreign) {
  auto apply = [foreign](c_rad& r) {
    r.leds = foreign ? static_cast<uint8_t>(r.leds | 0x04) : static_cast<uint8_t>(r.leds & ~0x04);
    r.leds_changed = 1;
  };
  apply(rad);
  for (const auto& p : ctx.lists.radios) {
    if (kind_traits(p->kind).light_report && p.get() != &rad) apply(*p);
  }
}

void fill_multi_or_com(RadioContext& ctx, c_rad& rad) {
  switch (rad.mode) {
    case 1:
    case 2:
      if (kind_traits(rad.kind).shows_test_pattern && shows_test(ctx, rad)) {
        both_displays(rad, 188888, 188888, 6, 7);
      } else {
        both_displays(rad, rad.shown_active, rad.shown_standby, 6, 7);
      }
      rad.dots = 0x88;
      return;
    case 3:
    case 4:
      both_displays(rad, rad.shown_active, rad.shown_standby, 5, 7);
      rad.dots = 0x44;
      return;
    case 5:
    case 6:
      both_displays(rad, rad.shown_active, rad.shown_standby, 5, 7);
      rad.dots = 0x22;
      return;
    case 7:
      // Four digits centred: positions 1, 6, 7 and 12 stay blank.
      both_displays(rad, rad.shown_active, rad.shown_standby, 4, 8, 2);
      return;
    default:
      return;
  }
}

void fill_nav(RadioContext& ctx, c_rad& rad) {
  if (rad.mode != kModeNav1 && rad.mode != kModeNav2) return;
  if (shows_test(ctx, rad)) {
    both_displays(rad, 18888, 18888, 5, 6);
  } else {
    both_displays(rad, rad.shown_active, rad.shown_standby, 5, 6);
  }
  rad.dots = 0x34;
}

void fill_adf(c_rad& rad) {
  if (rad.mode != kModeAdf1 && rad.mode != kModeAdf2) return;
  both_displays(rad, rad.shown_active, rad.shown_standby, 5, 6);
  rad.dots = 0xFF;
  rad.digits[5] = (rad.input & 0x10000) ? 6 : 9;
}

void fill_transponder(RadioContext& ctx, c_rad& rad) {
  if (rad.mode != kModeTransponder) return;
  const bool annunciator = (rad.input & 0x10000) != 0;
  if (shows_test(ctx, rad)) {
    byte_field(rad, 8888, 4, 2);
    rad.digits[5] = 12;
    rad.digits[0] = 1;
    rad.dots = 7;
  } else {
    byte_field(rad, rad.shown_active, 4, 2);
    rad.digits[5] = 10;
    rad.digits[0] = 0;
    rad.dots = annunciator ? 6 : 5;
  }
}

void fill_rmp(RadioContext& ctx, c_rad& rad) {
  switch (rad.mode) {
    case kModeCom1:
    case kModeCom2:
      both_displays(rad, rad.shown_active, rad.shown_standby, 6, 7);
      rad.dots = 0x0A;
      rad.leds = static_cast<uint8_t>(rad.mode);
      own_radio_rule(ctx, rad, rad.base_input != rad.mode);
      return;
    case kModeAdf1:
    case kModeAdf2:
      both_displays(rad, rad.shown_active, rad.shown_standby, 5, 7);
      rad.dots = 0x30;
      // ADF says nothing about whose COM is tuned: the own-radio bit stays as
      // the other RMPs have it, or this panel would disagree with them.
      rad.leds = static_cast<uint8_t>(0x50 | (rad.leds & 0x04));
      rad.leds_changed = 1;
      return;
    case kModeRmpNav1:
    case kModeRmpNav2:
      both_displays(rad, rad.shown_active, rad.shown_standby, 5, 7);
      rad.dots = 0x05;
      rad.leds = rad.mode == kModeRmpNav1 ? 0xC0 : 0x48;
      own_radio_rule(ctx, rad, false);
      return;
    default:
      return;
  }
}

}  // namespace

void compose_display(RadioContext& ctx, c_rad& rad, DisplayFill fill) {
  const DisplayRule rule = kind_traits(rad.kind).display;
  if (rule == DisplayRule::transponder) {
    std::fill(rad.digits.begin() + 1, rad.digits.end(), kBlankPair);
  } else {
    rad.digits.fill(kBlankPair);
  }
  rad.dots = 0;
  if (fill == DisplayFill::values) {
    switch (rule) {
      case DisplayRule::multi_or_com:
        fill_multi_or_com(ctx, rad);
        break;
      case DisplayRule::nav:
        fill_nav(ctx, rad);
        break;
      case DisplayRule::adf:
        fill_adf(rad);
        break;
      case DisplayRule::transponder:
        fill_transponder(ctx, rad);
        break;
      case DisplayRule::rmp:
        fill_rmp(ctx, rad);
        break;
      case DisplayRule::none:
        break;
    }
  }
  rad.bright = low_byte(ctx.state.brightness);
  rad.display_changed = 1;
}

void push_brightness(RadioContext& ctx) {
  const uint8_t bright = low_byte(ctx.state.brightness);
  for (const auto& rad : ctx.lists.radios) {
    rad->bright = bright;
    rad->display_changed = 1;
  }
  for (const auto& efis : ctx.lists.switches) {
    efis->bright = bright;
    efis->changed = 1;
  }
}

void blank_all_panels(RadioContext& ctx) {
  for (const auto& rad : ctx.lists.radios) {
    compose_display(ctx, *rad, DisplayFill::blank);
    if (kind_traits(rad->kind).display == DisplayRule::adf) rad->digits[5] = 0;
  }
  for (const auto& efis : ctx.lists.switches) {
    efis->bright = low_byte(ctx.state.brightness);
    efis->digit_high = kBlank;
    efis->digit_low = kBlank;
    efis->changed = 1;
  }
}

void set_switch_digits(RadioContext& ctx, int32_t value) {
  // Two digits only: a larger value (MFLAPS above 99) shows its nearest, 99,
  // and a negative one 0, rather than sending codes that are not digits.
  const int32_t shown = std::clamp(value, 0, 99);
  for (const auto& efis : ctx.lists.switches) {
    efis->bright = low_byte(ctx.state.brightness);
    efis->digit_high = static_cast<uint8_t>(shown / 10);
    efis->digit_low = static_cast<uint8_t>(shown % 10);
    efis->changed = 1;
  }
}

void set_switch_leds(RadioContext& ctx, int32_t bits, bool all_lights) {
  const uint8_t leds = low_byte(all_lights ? bits : (bits & 0x40));
  for (const auto& efis : ctx.lists.switches) {
    efis->leds = leds;
    efis->changed = 1;
  }
}

}  // namespace tarvion
