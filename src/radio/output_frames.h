// The nine-byte output reports of a panel image (report-ID byte 0, then eight
// data bytes), shared by the HID layer and the virtual panel host.
#pragma once

#include <array>
#include <cstdint>

#include "radio/panels.h"

namespace tarvion {

using OutputFrame = std::array<uint8_t, 9>;

// digits[0..5], dots, bright.
OutputFrame display_report(const c_rad& rad);
// The RMP lights: leds, digits[1..5], dots with bit 7 set, bright.
OutputFrame light_report(const c_rad& rad);
// bright, digit_high, digit_low, leds and the four rest bytes.
OutputFrame switch_report(const c_efis& efis);

}  // namespace tarvion
