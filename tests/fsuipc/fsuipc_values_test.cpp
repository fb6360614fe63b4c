// BCD frequencies, gear indicator lights and the flap display value.
#include "fsuipc/fsuipc_values.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace tarvion {
namespace {

TEST(FsuipcValues, Bcd4PacksOneDecimalDigitPerNibble) {
  const std::vector<std::pair<int64_t, uint32_t>> cases = {
      {1800, 0x1800}, {379, 0x0379},     {0, 0},
      {7, 0x7},       {99999, 0x99999},  {12345, 0x12345},
      {3699, 0x3699}, {-1, 0},           {-10000, 0},
      {100000, 0},    {123456, 0x23456}, {std::numeric_limits<int32_t>::max(), 0x83647},
  };
  for (const auto& [value, bcd] : cases) EXPECT_EQ(bcd4(value), bcd) << value;
}

TEST(FsuipcValues, GearLightsFollowLeverAndLegs) {
  struct Case {
    std::string name;
    int32_t lever;
    std::array<int32_t, 3> legs;
    int32_t bits_before;
    int32_t bits_after;
  };
  const std::vector<Case> cases = {
      {"lever down, all legs down and locked", 16383, {16383, 16383, 16383}, 0x38, 0x07},
      {"lever up, legs still down: all in transit", 0, {16383, 16383, 16383}, 0x07, 0x38},
      {"lever up, legs up: all out", 0, {0, 0, 0}, 0x3F, 0x00},
      {"lever down, legs on the way", 16383, {0, 8000, 16382}, 0x07, 0x38},
      {"each leg keeps its own pair", 16383, {16383, 100, 16383}, 0, 0x02 | 0x20 | 0x01},
      {"lever up, one leg not quite up", 0, {0, 0, 1}, 0, 0x08},
      {"beyond fully down still counts as down", 16383, {20000, 16384, 16383}, 0, 0x07},
      {"any lever value but 0 is down", 1, {16383, 16383, 16383}, 0, 0x07},
      {"the flaps light and other bits are kept", 0, {0, 0, 0}, 0x40 | 0x80, 0x40 | 0x80},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(gear_light_bits(c.bits_before, c.lever, c.legs), c.bits_after) << c.name;
  }
}

TEST(FsuipcValues, FlapDisplayScalesToMflapsRoundedToNearest) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  const std::vector<std::tuple<int32_t, int32_t, int32_t>> cases = {
      {8192, 30, 15},                                        // 15.0009
      {16383, 30, 30},     {0, 30, 0},        {273, 30, 0},  // 0.4999
      {274, 30, 1},                                          // 0.5017
      {16383, 40, 40},     {12000, 40, 29},                  // 29.298
      {65535, 30, 120},     // a 2-byte read above 16383 is not clipped here
      {65535, kMax, kMax},  // the product would overflow 32 bits; the quotient is held
      {65535, kMin, kMin}, {16383, -30, -30},
  };
  for (const auto& [position, mflaps, shown] : cases) {
    EXPECT_EQ(flap_display_value(position, mflaps), shown) << position << " x " << mflaps;
  }
}

}  // namespace
}  // namespace tarvion
