// The switch panel: trim wheel, gear lever, light and on/off switches, rotary
// selector and flaps buttons into switch_value and switch_dirty.
#pragma once

#include "radio/panels.h"

namespace tarvion {

// Acts on the panel's decoded input items (word_a, word_b).
void handle_switch_input(RadioContext& ctx, c_efis& efis);

}  // namespace tarvion
