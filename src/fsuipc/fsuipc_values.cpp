#include "fsuipc/fsuipc_values.h"

#include <cmath>
#include <limits>

namespace tarvion {

uint32_t bcd4(int64_t value) {
  if (value < 0) value = 0;
  value %= 100000;
  uint32_t bcd = 0;
  for (int shift = 0; shift < 20; shift += 4) {
    bcd |= static_cast<uint32_t>(value % 10) << shift;
    value /= 10;
  }
  return bcd;
}

std::optional<int32_t> from_bcd4(uint16_t bcd) {
  int32_t value = 0;
  for (int shift = 12; shift >= 0; shift -= 4) {
    const int32_t digit = (bcd >> shift) & 0xF;
    if (digit > 9) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

int32_t gear_light_bits(int32_t bits, int32_t gear_lever, const std::array<int32_t, 3>& legs) {
  struct LegLights {
    int32_t down, transit;
  };
  static constexpr std::array<LegLights, 3> kLegs{{{kLightLeg1Down, kLightLeg1Transit},
                                                   {kLightLeg2Down, kLightLeg2Transit},
                                                   {kLightLeg3Down, kLightLeg3Transit}}};
  for (std::size_t i = 0; i < kLegs.size(); ++i) {
    const bool locked = gear_lever != 0 && legs[i] >= kGearDown;
    // Lever up: any leg not fully up is still travelling; lever down: any
    // leg not fully down is.
    const bool transit = gear_lever == 0 ? legs[i] != 0 : legs[i] < kGearDown;
    bits &= ~(kLegs[i].down | kLegs[i].transit);
    if (locked) bits |= kLegs[i].down;
    if (transit) bits |= kLegs[i].transit;
  }
  return bits;
}

int32_t flap_display_value(int32_t flap_position, int32_t mflaps) {
  // The product in 64 bits cannot overflow; the quotient may still pass the
  // int32 range for an absurd MFLAPS, so it is held there.
  const int64_t product = static_cast<int64_t>(flap_position) * mflaps;
  const double scaled = std::round(static_cast<double>(product) / 16383.0);
  constexpr double kLow = std::numeric_limits<int32_t>::min();
  constexpr double kHigh = std::numeric_limits<int32_t>::max();
  if (scaled < kLow) return std::numeric_limits<int32_t>::min();
  if (scaled > kHigh) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(scaled);
}

}  // namespace tarvion
