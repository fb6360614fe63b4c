// What one detent (s = +1 or -1) does to a radio value, rule by rule. Pure
// functions of the value, so each rule's wraps can be checked on their own.
#pragma once

#include <cstdint>

namespace tarvion {

// COM whole megahertz, 118 to 136 wrapping, kilohertz part kept.
int32_t com_whole_mhz(int32_t v, int32_t s);
// NAV whole megahertz, 108 to 117 wrapping (value in 10 kHz).
int32_t nav_whole_mhz(int32_t v, int32_t s);
// COM kilohertz part in 5 kHz (or 25 kHz) steps, wrapping without carry.
int32_t com_khz(int32_t v, int32_t s, bool five_khz);
// NAV 50 kHz steps through the last two digits, wrapping without carry.
int32_t nav_khz(int32_t v, int32_t s);
// ADF panel outer knob: 10 kHz steps, held between 100.0 and 1790.0 kHz.
int32_t adf_panel_coarse(int32_t v, int32_t s);
// ADF panel inner knob: 0.1 kHz through the last two digits, wrapping.
int32_t adf_panel_fine(int32_t v, int32_t s);
// Digit cursor 1..4, wrapping.
int32_t move_cursor(int32_t cursor, int32_t s);
// ADF digit group at cursor 1..4: hundreds of kHz (1..17), tens, units, tenths.
int32_t adf_digit_group(int32_t v, int32_t cursor, int32_t s);
// Transponder code digit at cursor 1..4 (thousands first), digits 0..7.
int32_t atc_digit(int32_t v, int32_t cursor, int32_t s);

}  // namespace tarvion
