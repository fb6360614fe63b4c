#include "radio/encoder.h"

#include "radio/display.h"
#include "radio/panel_kinds.h"
#include "radio/radio_fields.h"
#include "radio/radio_panel.h"
#include "radio/tuning_rules.h"

namespace tarvion {

int32_t quadrature_position(bool phase_a, bool phase_b) {
  // Gray order: the phase value A + 2B runs 0, 1, 3, 2 through one cycle.
  constexpr int32_t kPosition[4] = {0, 1, 3, 2};
  return kPosition[(phase_a ? 1 : 0) + (phase_b ? 2 : 0)];
}

int32_t detent_step(int32_t previous, int32_t current) {
  int32_t d = previous - current;
  // |d| = 3 is one position across the 3 -> 0 seam; |d| = 2 is a skipped
  // position, taken as one detent with the sign the panels have always given it.
  if (d >= 2) d = -1;
  if (d <= -2) d = 1;
  return -d;
}

namespace {

void apply_outer(c_rad& rad, int32_t s) {
  const int32_t mode = rad.mode;
  const bool adf_mode = mode == kModeAdf1 || mode == kModeAdf2;
  if (kind_traits(rad.kind).encoder == EncoderRule::adf_panel) {
    if (!adf_mode) return;
    int32_t& standby = standby_value(rad, radio_of_mode(mode));
    standby = adf_panel_coarse(standby, s);
    rad.shown_standby = standby;
    return;
  }
  switch (mode) {
    case kModeCom1:
    case kModeCom2:
    case kModeNav1:
    case kModeNav2:
    case kModeRmpNav1:
    case kModeRmpNav2: {
      int32_t& standby = standby_value(rad, radio_of_mode(mode));
      standby = mode <= kModeCom2 ? com_whole_mhz(standby, s) : nav_whole_mhz(standby, s);
      rad.shown_standby = standby;
      return;
    }
    case kModeAdf1:
    case kModeAdf2:
    case kModeTransponder:
      rad.cursor = static_cast<uint8_t>(move_cursor(rad.cursor, s));
      return;
    default:
      return;
  }
}

void apply_inner(RadioContext& ctx, c_rad& rad, int32_t s) {
  const int32_t mode = rad.mode;
  const int radio = radio_of_mode(mode);
  if (radio < 0) return;
  int32_t& standby = standby_value(rad, radio);
  const EncoderRule rule = kind_traits(rad.kind).encoder;
  const bool live_code = rule == EncoderRule::transponder && mode == kModeTransponder;
  // The transponder edits the code it shows. Its standby field would otherwise
  // still hold the creation value 1200 (or a code another panel has since
  // replaced), and the first turn would jump to a code built from that.
  if (live_code) standby = rad.atc_active;
  if (rule == EncoderRule::adf_panel) {
    if (mode != kModeAdf1 && mode != kModeAdf2) return;
    standby = adf_panel_fine(standby, s);
    rad.shown_standby = standby;
    return;
  }
  switch (mode) {
    case kModeCom1:
    case kModeCom2:
      standby = com_khz(standby, s, ctx.config.com_frec_5);
      break;
    case kModeNav1:
    case kModeNav2:
    case kModeRmpNav1:
    case kModeRmpNav2:
      standby = nav_khz(standby, s);
      break;
    case kModeAdf1:
    case kModeAdf2:
      standby = adf_digit_group(standby, rad.cursor, s);
      break;
    case kModeTransponder:
      standby = atc_digit(standby, rad.cursor, s);
      break;
    default:
      return;
  }
  rad.shown_standby = standby;
  if (live_code) {
    // No standby of its own: a new code is live at once.
    rad.atc_active = standby;
    rad.shown_active = standby;
    share_active(ctx, rad);
    ctx.state.radio_value[ATC] = rad.atc_active;
    ctx.state.radio_dirty[ATC] = 1;
  }
}

}  // namespace

void step_encoder(RadioContext& ctx, c_rad& rad, Knob which) {
  const bool outer = which == Knob::outer;
  int32_t& last = outer ? rad.outer_last : rad.inner_last;
  const int32_t pos = outer ? rad.outer_pos : rad.inner_pos;
  const int32_t s = detent_step(last, pos);
  if (s != 0) {
    if (outer) {
      apply_outer(rad, s);
    } else {
      apply_inner(ctx, rad, s);
    }
  }
  last = pos;
  compose_display(ctx, rad, DisplayFill::values);
}

void track_encoders(RadioContext& ctx, c_rad& rad, int32_t outer_pos, int32_t inner_pos) {
  rad.outer_pos = outer_pos;
  rad.inner_pos = inner_pos;
  if (rad.outer_pos != rad.outer_last) {
    if (rad.started == 1) {
      step_encoder(ctx, rad, Knob::outer);
    } else {
      rad.outer_last = rad.outer_pos;
    }
  }
  if (rad.inner_pos != rad.inner_last) {
    if (rad.started == 1) {
      step_encoder(ctx, rad, Knob::inner);
    } else {
      rad.inner_last = rad.inner_pos;
    }
  }
}

}  // namespace tarvion
