#include "zemp/zemp_variables.h"

namespace tarvion {

int32_t zemp_wire_value(const RadioState& radio, RadioIndex index) {
  return radio.radio_value[index] / kZempSlots[zemp_position_of_radio(index)].divisor;
}

ZempVariables make_zemp_variables() {
  ZempVariables variables;
  for (int i = 0; i < kZempVariableCount; ++i) variables[i].number = kZempSlots[i].number;
  return variables;
}

}  // namespace tarvion
