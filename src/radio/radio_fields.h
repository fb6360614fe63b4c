// Which radio a panel mode edits, and the panel object's own copy of each
// radio's active and standby value.
#pragma once

#include <cstdint>

#include "radio/panels.h"

namespace tarvion {

// The input word bits of the common layout (kinds 8, 13 to 16).
namespace common_bits {
constexpr uint32_t kTransfer = 0x1;
constexpr uint32_t kOuterA = 0x2, kOuterB = 0x4;
constexpr uint32_t kFlagSet = 0x8;
constexpr uint32_t kFlagClear = 0x20;
constexpr uint32_t kInnerA = 0x40, kInnerB = 0x80;
constexpr uint32_t kTest = 0x2000;
constexpr uint32_t kAnnunciator = 0x10000;
constexpr uint32_t kAdfSwitch = 0x20000;
}  // namespace common_bits

// The input word bits of the RMP.
namespace rmp_bits {
constexpr uint32_t kNav1Key = 0x1, kNav2Key = 0x2, kAdfKey = 0x4;
constexpr uint32_t kInnerA = 0x100, kInnerB = 0x200;
constexpr uint32_t kOuterA = 0x400, kOuterB = 0x800;
constexpr uint32_t kTransfer = 0x1000;
constexpr uint32_t kCom1Key = 0x2000, kCom2Key = 0x4000, kNavKey = 0x8000;
}  // namespace rmp_bits

constexpr int32_t kModeCount = 10;

// Radio index edited in a mode, or -1 for mode 0 and anything out of range.
int radio_of_mode(int32_t mode);

// Whether v is a value radio 0..6 can hold (units as radio_value): COM
// 118000..136995, NAV 10800..11795, ADF 1000..17999, a transponder code of
// four digits 0..7. Wide, because values from outside may be anything.
bool in_radio_band(int radio, int64_t v);

// The panel's active / standby field of a radio index 0..6.
int32_t& active_value(c_rad& rad, int radio);
int32_t& standby_value(c_rad& rad, int radio);

}  // namespace tarvion
