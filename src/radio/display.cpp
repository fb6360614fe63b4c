#include "radio/display.h"

namespace tarvion {

// Not built yet: display composition arrives with the radio logic.
void compose_display(RadioContext&, c_rad&, bool) {}
// Not built yet: display composition arrives with the radio logic.
void push_brightness(RadioContext&) {}
// Not built yet: display composition arrives with the radio logic.
void blank_all_panels(RadioContext&) {}
// Not built yet: display composition arrives with the radio logic.
void set_switch_digits(RadioContext&, int32_t) {}
// Not built yet: display composition arrives with the radio logic.
void set_switch_leds(RadioContext&, int32_t, bool) {}

}  // namespace tarvion
