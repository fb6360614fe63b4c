// The ZEMP variable table: seven numbered variables, one per radio, with the
// change detection that decides what the link sends.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "radio/radio_state.h"

namespace tarvion {

struct TVariable {
  int32_t number = 9999;  // 9999: unassigned; only numbers below 1000 are registered
  int32_t value = 0;
  int32_t last_value = 0;  // last seen on the wire, sent or received
  // Runs whenever value moves away from last_value, in either direction.
  std::function<void()> on_change = [] {};
};

inline constexpr int kZempVariableCount = 7;
using ZempVariables = std::array<TVariable, kZempVariableCount>;

// What one table position carries: the radio and how its value goes on the wire.
struct ZempSlot {
  int32_t number;
  RadioIndex radio;
  int32_t divisor;  // COM and ADF lose their last digit; NAV and the transponder go as they are
};

// In table order, which is also the order of the registration line.
inline constexpr std::array<ZempSlot, kZempVariableCount> kZempSlots{{
    {256, COM1, 10},
    {254, NAV1, 1},
    {311, ATC, 1},
    {258, ADF1, 10},
    {257, COM2, 10},
    {255, NAV2, 1},
    {259, ADF2, 10},
}};

// The table position that carries a radio.
constexpr int zemp_position_of_radio(RadioIndex radio) {
  int position = 0;
  while (position < kZempVariableCount - 1 && kZempSlots[position].radio != radio) ++position;
  return position;
}

constexpr bool every_radio_has_a_slot() {
  for (int r = 0; r < kRadioCount; ++r) {
    if (kZempSlots[zemp_position_of_radio(static_cast<RadioIndex>(r))].radio != r) return false;
  }
  return true;
}
static_assert(every_radio_has_a_slot());

// radio_value[radio] as the server sees it (integer division, remainder dropped).
int32_t zemp_wire_value(const RadioState& radio, RadioIndex index);

// A wire value of table position back in radio_value units, the dropped digit
// as 0; 64-bit, since the server may send any 32-bit number.
int64_t zemp_radio_value(int position, int32_t wire);

ZempVariables make_zemp_variables();

}  // namespace tarvion
