// The concentric rotary encoders of the radio panels: phase bits to a
// quadrature position, the direction of a position change, and what one
// detent of the outer or inner knob changes in each mode.
#pragma once

#include <cstdint>

#include "radio/panels.h"

namespace tarvion {

enum class Knob { outer = 1, inner = 2 };

// Position 0..3 in the quadrature cycle 0 -> 1 -> 2 -> 3 -> 0 of the phase pair.
int32_t quadrature_position(bool phase_a, bool phase_b);

// +1 for a move along the cycle, -1 against it, 0 for no move. A jump of two
// positions, whose direction cannot be known, counts +1 for previous - current
// = 2 and -1 for -2.
int32_t detent_step(int32_t previous, int32_t current);

// One detent of a knob: changes the value of the panel's mode, records the
// position as the previous one and recomposes the panel.
void step_encoder(RadioContext& ctx, c_rad& rad, Knob which);

// A new position of each knob; steps a knob that moved, or, before the panel's
// first report was acted on, only records where it stands.
void track_encoders(RadioContext& ctx, c_rad& rad, int32_t outer_pos, int32_t inner_pos);

}  // namespace tarvion
