#include "radio/switch_panel.h"

#include <gtest/gtest.h>

#include "radio_rig.h"

namespace tarvion::test {
namespace {

// word_b bits of the trim wheel at quadrature position 0..3.
uint16_t trim_bits(int pos) {
  constexpr uint16_t kBits[4] = {0x0, 0x4, 0xC, 0x8};
  return kBits[pos];
}

void act(RadioRig& rig, c_efis& efis, uint16_t word_a, uint16_t word_b) {
  efis.word_a = word_a;
  efis.word_b = word_b;
  handle_switch_input(rig.ctx, efis);
}

TEST(SwitchPanel, TrimStepsByTheFactorAndIsHeld) {
  struct Case {
    const char* what;
    int32_t factor;
    int32_t start;
    int from, to;
    int32_t want;
  } const cases[] = {
      {"one detent up", 300, 0, 0, 1, 300},
      {"one detent down across the seam", 300, 0, 0, 3, -300},
      {"up from 3 to 0", 300, 0, 3, 0, 300},
      {"held at the top", 300, 16200, 1, 2, 16383},
      {"held at the bottom", 300, -16383, 2, 1, -16383},
      {"jump of two, previous - current = 2, counts up", 300, 0, 2, 0, 300},
      {"jump of two, previous - current = -2, counts down", 300, 0, 1, 3, -300},
      {"a huge factor does not overflow", INT32_MIN, 100, 0, 1, -16383},
      {"a huge factor the other way", INT32_MAX, 100, 1, 0, -16383},
  };
  for (const Case& c : cases) {
    RadioRig rig;
    rig.config.trim_factor = c.factor;
    c_efis& efis = rig.attach_switch_panel(1);
    rig.state.switch_value[8] = c.start;
    act(rig, efis, 0, trim_bits(c.from));
    EXPECT_EQ(rig.state.switch_value[8], c.start) << c.what << ": first movement only recorded";
    EXPECT_EQ(rig.state.switch_dirty[8], 0) << c.what;
    act(rig, efis, 0, trim_bits(c.to));
    EXPECT_EQ(rig.state.switch_value[8], c.want) << c.what;
    EXPECT_EQ(rig.state.switch_dirty[8], 1) << c.what;
  }
}

TEST(SwitchPanel, FlapsStepWithinTheirRangeOncePerPress) {
  struct Case {
    const char* what;
    int32_t start, step;
    uint16_t button;  // 1 up, 2 down
    int32_t want;
    uint8_t dirty;
  } const cases[] = {
      {"down refused past 16383", 16000, 2047, 2, 16000, 0},
      {"up", 16000, 2047, 1, 13953, 1},
      {"up to exactly 0", 2047, 2047, 1, 0, 1},
      {"up refused below 0", 2000, 2047, 1, 2000, 0},
      {"down to exactly 16383", 14336, 2047, 2, 16383, 1},
      {"step unknown: inert", 0, 99999, 2, 0, 0},
      {"a negative step never leaves the range", 16000, -2047, 1, 16000, 0},
  };
  for (const Case& c : cases) {
    RadioRig rig;
    rig.state.flaps_step = c.step;
    rig.state.switch_value[9] = c.start;
    c_efis& efis = rig.attach_switch_panel(1);
    act(rig, efis, 0, c.button);
    EXPECT_EQ(rig.state.switch_value[9], c.want) << c.what;
    EXPECT_EQ(rig.state.switch_dirty[9], c.dirty) << c.what;
  }
}

TEST(SwitchPanel, HeldFlapsButtonDoesNotStepAgainOnOtherInputs) {
  RadioRig rig;
  rig.state.flaps_step = 1000;
  c_efis& efis = rig.attach_switch_panel(1);
  act(rig, efis, 0, 0x2);
  act(rig, efis, 0x8000, 0x2);        // gear moved while flaps down is held
  act(rig, efis, 0x8000, 0x2 | 0x4);  // trim moved too
  EXPECT_EQ(rig.state.switch_value[9], 1000);
  act(rig, efis, 0x8000, 0x4);        // released
  act(rig, efis, 0x8000, 0x4 | 0x2);  // pressed again
  EXPECT_EQ(rig.state.switch_value[9], 2000);
}

TEST(SwitchPanel, LightsAndOnOffSwitchesFollowTheirReverseOptions) {
  struct Case {
    const char* what;
    uint16_t word_a;
    bool reverse_sw, reverse_panel;
    int32_t lights;
    int32_t on_off[5];
  } const cases[] = {
      {"all off", 0, false, false, 0x00, {0, 0, 0, 0, 0}},
      {"panel light", 1 << 5, false, false, 0x20, {0, 0, 0, 0, 0}},
      {"bits 6, 7, 8", 0x1C0, false, false, 0x0D, {0, 0, 0, 0, 0}},
      {"bit 9 drives 0x10 and 0x02 together", 1 << 9, false, false, 0x12, {0, 0, 0, 0, 0}},
      {"on/off switches 10 and 14", 0x4400, false, false, 0x00, {1, 0, 0, 0, 1}},
      {"REVERSE_SW inverts lights 6-9 and on/off", 0x4400, true, false, 0x1F, {0, 1, 1, 1, 0}},
      {"REVERSE_PANEL alone inverts only 0x20", 0, false, true, 0x20, {0, 0, 0, 0, 0}},
      {"REVERSE_PANEL with the panel light on", 1 << 5, false, true, 0x00, {0, 0, 0, 0, 0}},
      {"REVERSE_SW leaves the panel light", 1 << 5, true, false, 0x3F, {1, 1, 1, 1, 1}},
  };
  for (const Case& c : cases) {
    RadioRig rig;
    rig.config.reverse_sw = c.reverse_sw;
    rig.config.reverse_panel = c.reverse_panel;
    rig.state.switch_value[1] = 0x40;  // a bit no switch drives is kept
    c_efis& efis = rig.attach_switch_panel(1);
    act(rig, efis, c.word_a, 0);
    EXPECT_EQ(rig.state.switch_value[1], 0x40 | c.lights) << c.what;
    EXPECT_EQ(rig.state.switch_dirty[1], 1) << c.what;
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(rig.state.switch_value[2 + k], c.on_off[k]) << c.what << " switch " << k;
      EXPECT_EQ(rig.state.switch_dirty[2 + k], 1) << c.what;
    }
  }
}

TEST(SwitchPanel, GearLeverIsNotReversed) {
  for (bool reverse : {false, true}) {
    RadioRig rig;
    rig.config.reverse_sw = reverse;
    rig.config.reverse_panel = reverse;
    c_efis& efis = rig.attach_switch_panel(1);
    act(rig, efis, 0x8000, 0);
    EXPECT_EQ(rig.state.switch_value[0], 16383);
    act(rig, efis, 0, 0);
    EXPECT_EQ(rig.state.switch_value[0], 0);
    EXPECT_EQ(rig.state.switch_dirty[0], 1);
  }
}

TEST(SwitchPanel, SelectorTakesTheLastActivePositionAndSkipsAnUnchangedThree) {
  struct Case {
    uint16_t bits;
    int32_t before;
    int32_t want;
    uint8_t dirty;
  } const cases[] = {
      {0x01, 4, 0, 1}, {0x04, 0, 2, 1}, {0x12, 0, 4, 1},  // 1 and 4 together leave 4
      {0x08, 2, 3, 1}, {0x08, 3, 3, 0},                   // 3 only when not already 3
      {0x00, 2, 2, 0}, {0x0A, 3, 3, 1},  // 1 first: the value is no longer 3 when bit 3 is read
  };
  for (const Case& c : cases) {
    RadioRig rig;
    rig.state.switch_value[7] = c.before;
    c_efis& efis = rig.attach_switch_panel(1);
    act(rig, efis, c.bits, 0);
    EXPECT_EQ(rig.state.switch_dirty[7], c.dirty) << std::hex << c.bits << " from " << c.before;
    EXPECT_EQ(rig.state.switch_value[7], c.want) << std::hex << c.bits;
  }
}

}  // namespace
}  // namespace tarvion::test
