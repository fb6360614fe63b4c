#include "radio/output_frames.h"

namespace tarvion {

OutputFrame display_report(const c_rad& rad) {
  const auto& d = rad.digits;
  return {0x00, d[0], d[1], d[2], d[3], d[4], d[5], rad.dots, rad.bright};
}

OutputFrame light_report(const c_rad& rad) {
  const auto& d = rad.digits;
  // Bit 7 of the dots byte is what tells the panel this is the light report.
  return {0x00,      rad.leds, d[1], d[2], d[3], d[4], d[5], static_cast<uint8_t>(rad.dots | 0x80),
          rad.bright};
}

OutputFrame switch_report(const c_efis& efis) {
  const auto& r = efis.rest;
  return {0x00, efis.bright, efis.digit_high, efis.digit_low, efis.leds, r[0], r[1], r[2], r[3]};
}

}  // namespace tarvion
