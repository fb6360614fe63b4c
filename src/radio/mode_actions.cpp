// select_mode, transfer and share_active.
#include <utility>

#include "radio/display.h"
#include "radio/radio_fields.h"
#include "radio/radio_panel.h"

namespace tarvion {

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
  // By index: a refreshed panel never changes the list, but stay safe if it did.
  for (size_t i = 0; i < ctx.lists.radios.size(); ++i) {
    c_rad& other = *ctx.lists.radios[i];
    if (other.number == rad.number) continue;
    if (radio >= 0) active_value(other, radio) = active_value(rad, radio);
    // Modes are compared by number: a panel showing NAV1 as mode 8 while this
    // one is in mode 3 picks the value up at its next mode selection.
    if (other.mode == rad.mode) select_mode(ctx, other, PanelMode{other.mode}, SameMode::refresh);
  }
}

}  // namespace tarvion
