#include "radio/panels.h"

#include "radio/panel_kinds.h"

namespace tarvion {

c_rad make_c_rad(uint16_t kind, uint16_t number, uint16_t base_input) {
  c_rad rad;
  rad.kind = kind;
  rad.number = number;
  rad.base_input = base_input;
  rad.mode = kind_traits(kind).first_mode;
  return rad;
}

void load_active_values(const RadioState& state, c_rad& rad) {
  rad.com1_active = state.radio_value[COM1];
  rad.com2_active = state.radio_value[COM2];
  rad.nav1_active = state.radio_value[NAV1];
  rad.nav2_active = state.radio_value[NAV2];
  rad.adf1_active = state.radio_value[ADF1];
  rad.adf2_active = state.radio_value[ADF2];
  rad.atc_active = state.radio_value[ATC];
}

}  // namespace tarvion
