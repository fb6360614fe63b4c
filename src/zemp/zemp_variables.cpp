#include "zemp/zemp_variables.h"

namespace tarvion {

int32_t zemp_wire_value(const RadioState& radio, RadioIndex index) {
  return radio.radio_value[index] / kZempSlots[zemp_position_of_radio(index)].divisor;
}

int64_t zemp_radio_value(int position, int32_t wire) {
  return static_cast<int64_t>(wire) * kZempSlots[position].divisor;
}

ZempVariables make_zemp_variables() {
  ZempVariables variables;
  for (int i = 0; i < kZempVariableCount; ++i) variables[i].number = kZempSlots[i].number;
  return variables;
}

}  // namespace tarvion
