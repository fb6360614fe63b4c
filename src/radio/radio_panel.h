// What the inputs of a radio panel do: the input handlers of the common layout
// and of the RMP, mode selection, the standby/active transfer and the sharing
// of a new active value (a panel's or the simulator's) with the panels.
#pragma once

#include <cstdint>

#include "radio/panels.h"

namespace tarvion {

// Acts on rad.input of a panel of kind 8 or 13 to 16.
void handle_radio_input(RadioContext& ctx, c_rad& rad);
// Acts on rad.input of an RMP (kind 17).
void handle_rmp_input(RadioContext& ctx, c_rad& rad);

// What selecting the mode the panel already shows does.
enum class SameMode { ignore, refresh };

// Shows and edits the radio of the mode.
void select_mode(RadioContext& ctx, c_rad& rad, PanelMode mode, SameMode same);
// Swaps standby and active of the current radio once per press of the button.
void transfer(RadioContext& ctx, c_rad& rad);
// Copies the panel's active value of its current radio into every other
// panel, and refreshes those showing the same mode.
void share_active(RadioContext& ctx, c_rad& rad);
// A radio value the simulator reports becomes the radio's active value on
// every panel, as a transfer makes it, but is not marked for sending: the
// simulator has it already. A value outside the radio's band is ignored
// (false).
bool take_simulator_value(RadioContext& ctx, RadioIndex radio, int64_t value);

}  // namespace tarvion
