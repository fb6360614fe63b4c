// Display and light images of the panel objects, and when they are marked
// for sending.
#pragma once

#include <cstdint>

#include "radio/panels.h"

namespace tarvion {

// What a rebuilt radio panel image shows.
enum class DisplayFill { values, blank };

// Rebuilds one radio panel's image.
void compose_display(RadioContext& ctx, c_rad& rad, DisplayFill fill);
// Puts brightness into every panel image and marks it.
void push_brightness(RadioContext& ctx);
// Blanks every display (used at close).
void blank_all_panels(RadioContext& ctx);
// The switch panels' two-digit display; a value outside 0..99 shows the
// nearer end (99 or 00).
void set_switch_digits(RadioContext& ctx, int32_t value);
// The switch panels' indicator lights; without all_lights only bit 0x40 passes.
void set_switch_leds(RadioContext& ctx, int32_t bits, bool all_lights);

}  // namespace tarvion
