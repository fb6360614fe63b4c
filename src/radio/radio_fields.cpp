#include "radio/radio_fields.h"

#include <array>

namespace tarvion {

int radio_of_mode(int32_t mode) {
  // Modes 8 and 9 are the RMP's names for NAV1 and NAV2.
  constexpr std::array<int, kModeCount> kRadio{-1,   COM1, COM2, NAV1, NAV2,
                                               ADF1, ADF2, ATC,  NAV1, NAV2};
  if (mode < 0 || mode >= kModeCount) return -1;
  return kRadio[static_cast<size_t>(mode)];
}

int32_t& active_value(c_rad& rad, int radio) {
  switch (radio) {
    case COM1:
      return rad.com1_active;
    case COM2:
      return rad.com2_active;
    case NAV1:
      return rad.nav1_active;
    case NAV2:
      return rad.nav2_active;
    case ADF1:
      return rad.adf1_active;
    case ADF2:
      return rad.adf2_active;
    default:
      return rad.atc_active;
  }
}

int32_t& standby_value(c_rad& rad, int radio) {
  switch (radio) {
    case COM1:
      return rad.com1_standby;
    case COM2:
      return rad.com2_standby;
    case NAV1:
      return rad.nav1_standby;
    case NAV2:
      return rad.nav2_standby;
    case ADF1:
      return rad.adf1_standby;
    case ADF2:
      return rad.adf2_standby;
    default:
      return rad.atc_standby;
  }
}

}  // namespace tarvion
