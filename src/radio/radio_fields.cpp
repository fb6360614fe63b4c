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

bool in_radio_band(int radio, int64_t v) {
  switch (radio) {
    case COM1:
    case COM2:
      return v >= 118000 && v <= 136995;
    case NAV1:
    case NAV2:
      return v >= 10800 && v <= 11795;
    case ADF1:
    case ADF2:
      return v >= 1000 && v <= 17999;
    case ATC:
      if (v < 0 || v > 7777) return false;
      for (; v > 0; v /= 10) {
        if (v % 10 > 7) return false;
      }
      return true;
    default:
      return false;
  }
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
