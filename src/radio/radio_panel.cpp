// The input handlers of the radio panels (common layout and RMP) and the mode
// actions they lead to: mode selection, transfer and sharing the active value.
#include "radio/radio_panel.h"

#include <utility>

#include "radio/display.h"
#include "radio/encoder.h"
#include "radio/panel_kinds.h"
#include "radio/radio_fields.h"

namespace tarvion {

namespace {

struct ModeSelect {
  uint32_t bit;
  PanelMode mode;
};

// Applied in this order, so with several bits set the last one wins.
constexpr ModeSelect kModeSelectOrder[] = {
    {0x10, kModeCom1},          {0x100, kModeCom2},  {0x200, kModeNav1},  {0x400, kModeNav2},
    {0x1000, kModeTransponder}, {0x4000, kModeAdf1}, {0x8000, kModeAdf2},
};

void set_switch_flag(RadioContext& ctx, const c_rad& rad, uint8_t value) {
  // Mode 0 has no switch flag; the ATC value is marked for sending anyway.
  if (rad.mode > 0 && rad.mode < kModeCount) {
    ctx.state.mode_flag[static_cast<size_t>(rad.mode)] = value;
  }
  ctx.state.radio_dirty[ATC] = 1;
}

// The ADF panel's switch sets its radio's flag while the input is open.
void follow_adf_switch(RadioContext& ctx, const c_rad& rad) {
  if (rad.mode != kModeAdf1 && rad.mode != kModeAdf2) return;
  const size_t m = static_cast<size_t>(rad.mode);
  const uint8_t wanted = (rad.input & common_bits::kAdfSwitch) ? 0 : 1;
  if (ctx.state.mode_flag[m] == wanted) return;
  ctx.state.mode_flag[m] = wanted;
  ctx.state.radio_dirty[static_cast<size_t>(radio_of_mode(rad.mode))] = 1;
}

// Puts a new active value of radio (none for -1) into every panel but the
// source, and refreshes those that `refresh` picks.
template <typename Refresh>
void spread_active(RadioContext& ctx, const c_rad* source, int radio, int32_t value,
                   Refresh refresh) {
  // By index: a refreshed panel never changes the list, but stay safe if it did.
  for (size_t i = 0; i < ctx.lists.radios.size(); ++i) {
    c_rad& other = *ctx.lists.radios[i];
    if (source != nullptr && other.number == source->number) continue;
    if (radio >= 0) active_value(other, radio) = value;
    if (refresh(other)) select_mode(ctx, other, PanelMode{other.mode}, SameMode::refresh);
  }
}

}  // namespace

void handle_radio_input(RadioContext& ctx, c_rad& rad) {
  using namespace common_bits;
  const uint32_t w = rad.input;
  if (w & kTransfer) {
    transfer(ctx, rad);
  } else {
    rad.swap_latch = 0;
  }
  for (const ModeSelect& m : kModeSelectOrder) {
    if (w & m.bit) select_mode(ctx, rad, m.mode, SameMode::ignore);
  }
  if (w & kTest) {
    rad.test = 1;
    compose_display(ctx, rad, DisplayFill::values);
  } else if (rad.test == 1) {
    rad.test = 0;
    compose_display(ctx, rad, DisplayFill::values);
  }
  if (w & kFlagSet) set_switch_flag(ctx, rad, 1);
  if (w & kFlagClear) set_switch_flag(ctx, rad, 0);
  track_encoders(ctx, rad, quadrature_position(w & kOuterA, w & kOuterB),
                 quadrature_position(w & kInnerA, w & kInnerB));
  rad.started = 1;
  // These displays follow each input (the ADF panel's mode comes from its switch).
  const DisplayRule rule = kind_traits(rad.kind).display;
  if (rule == DisplayRule::adf) {
    follow_adf_switch(ctx, rad);
    compose_display(ctx, rad, DisplayFill::values);
  }
  if (rule == DisplayRule::transponder) compose_display(ctx, rad, DisplayFill::values);
}

void handle_rmp_input(RadioContext& ctx, c_rad& rad) {
  using namespace rmp_bits;
  const uint32_t w = rad.input;
  if (w & kTransfer) {
    transfer(ctx, rad);
  } else {
    rad.swap_latch = 0;
  }
  if (w & kCom1Key) select_mode(ctx, rad, kModeCom1, SameMode::ignore);
  if (w & kCom2Key) select_mode(ctx, rad, kModeCom2, SameMode::ignore);
  if (w & kNavKey) select_mode(ctx, rad, kModeRmpNav1, SameMode::ignore);
  // From COM only the NAV key leads on; the three keys choose among the
  // navigation radios, each reading the mode the one before it left.
  if ((w & kNav1Key) && rad.mode > kModeCom2) select_mode(ctx, rad, kModeRmpNav1, SameMode::ignore);
  if ((w & kNav2Key) && rad.mode > kModeCom2) select_mode(ctx, rad, kModeRmpNav2, SameMode::ignore);
  if ((w & kAdfKey) && rad.mode > kModeCom2) select_mode(ctx, rad, kModeAdf1, SameMode::ignore);
  // The RMP's inner knob is wired the other way round.
  track_encoders(ctx, rad, quadrature_position(w & kOuterA, w & kOuterB),
                 3 - quadrature_position(w & kInnerA, w & kInnerB));
  if (rad.started == 0) {
    select_mode(ctx, rad, kModeCom1, SameMode::refresh);
    rad.started = 1;
  }
  compose_display(ctx, rad, DisplayFill::values);
}

void select_mode(RadioContext& ctx, c_rad& rad, PanelMode mode, SameMode same) {
  if (mode == rad.mode && same == SameMode::ignore) return;
  rad.mode = mode;
  const int radio = radio_of_mode(mode);
  if (radio >= 0) {
    rad.shown_active = active_value(rad, radio);
    rad.shown_standby = standby_value(rad, radio);
  }
  if (mode == kModeAdf1 || mode == kModeAdf2 || mode == kModeTransponder) rad.cursor = 1;
  compose_display(ctx, rad, DisplayFill::values);
}

void transfer(RadioContext& ctx, c_rad& rad) {
  // One press swaps once, however many reports arrive while it is held.
  if (rad.swap_latch == 1) return;
  rad.swap_latch = 1;
  const int radio = radio_of_mode(rad.mode);
  if (radio >= 0) {
    std::swap(active_value(rad, radio), standby_value(rad, radio));
    ctx.state.radio_value[static_cast<size_t>(radio)] = active_value(rad, radio);
    ctx.state.radio_dirty[static_cast<size_t>(radio)] = 1;
    if (radio >= ADF1) rad.cursor = 1;
  }
  select_mode(ctx, rad, PanelMode{rad.mode}, SameMode::refresh);
  share_active(ctx, rad);
}

void share_active(RadioContext& ctx, c_rad& rad) {
  const int radio = radio_of_mode(rad.mode);
  // Modes are compared by number: a panel showing NAV1 as mode 8 while this
  // one is in mode 3 picks the value up at its next mode selection.
  spread_active(ctx, &rad, radio, radio >= 0 ? active_value(rad, radio) : 0,
                [&rad](const c_rad& other) { return other.mode == rad.mode; });
}

bool take_simulator_value(RadioContext& ctx, RadioIndex radio, int64_t value) {
  if (!in_radio_band(radio, value)) return false;
  const auto active = static_cast<int32_t>(value);
  ctx.state.radio_value[static_cast<size_t>(radio)] = active;
  // No panel set it, so every panel showing the radio, in whatever mode
  // number, shows the new value at once.
  spread_active(ctx, nullptr, radio, active,
                [radio](const c_rad& other) { return radio_of_mode(other.mode) == radio; });
  return true;
}

}  // namespace tarvion
