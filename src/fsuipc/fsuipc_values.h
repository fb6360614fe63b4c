// Conversions between the program's values and the FSUIPC offsets' formats:
// BCD radio frequencies, the gear indicator lights, the flap display.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace tarvion {

// Packed BCD of 0..99999, ones digit in the lowest 4 bits. The writes keep
// the low 16 bits. Values the panels never produce (a SET_ key out of range)
// still give valid BCD: below 0 counts as 0, above 99999 keeps its last five
// digits.
uint32_t bcd4(int64_t value);
// The number a 16-bit word of bcd4's form stands for, 0..9999; nullopt when a
// nibble is no decimal digit.
std::optional<int32_t> from_bcd4(uint16_t bcd);

// Indicator light bits of switch_value[10].
inline constexpr int32_t kLightLeg3Down = 0x01;
inline constexpr int32_t kLightLeg1Down = 0x02;
inline constexpr int32_t kLightLeg2Down = 0x04;
inline constexpr int32_t kLightLeg3Transit = 0x08;
inline constexpr int32_t kLightLeg1Transit = 0x10;
inline constexpr int32_t kLightLeg2Transit = 0x20;
inline constexpr int32_t kLightFlapsMoving = 0x40;

inline constexpr int32_t kGearDown = 16383;

// The indicator bits with each leg's down-and-locked and in-transit pair set
// from the gear lever and the legs' positions (legs in read-table order);
// other bits are kept.
int32_t gear_light_bits(int32_t bits, int32_t gear_lever, const std::array<int32_t, 3>& legs);

// The switch panel display for a flap position 0..16383 scaled to 0..mflaps,
// rounded to nearest. Any mflaps is safe: the result is held to int32.
int32_t flap_display_value(int32_t flap_position, int32_t mflaps);

}  // namespace tarvion
