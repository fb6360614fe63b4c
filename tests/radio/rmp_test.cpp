#include <gtest/gtest.h>

#include "radio/radio_panel.h"
#include "radio_rig.h"

namespace tarvion::test {
namespace {

void press(RadioRig& rig, c_rad& rad, uint32_t word) {
  rad.input = word;
  rad.last_input = word;
  handle_rmp_input(rig.ctx, rad);
}

constexpr uint32_t kNav1 = 0x1, kNav2 = 0x2, kAdf = 0x4, kCom1 = 0x2000, kCom2 = 0x4000,
                   kNav = 0x8000;

TEST(Rmp, KeysLeadIntoTheNavigationRadiosOnlyThroughTheNavKey) {
  struct Case {
    int32_t from;
    uint32_t keys;
    int32_t mode;
  } const cases[] = {
      {1, kNav1, 1},
      {1, kNav2, 1},
      {2, kAdf, 2},  // ignored while on COM
      {1, kNav, 8},
      {8, kNav2, 9},
      {9, kAdf, 5},
      {5, kNav1, 8},
      {1, kNav | kNav2, 9},  // each key reads the mode left before it
      {1, kNav | kNav1 | kNav2 | kAdf, 5},
      {8, kCom1 | kNav1, 1},  // back on COM1, so NAV1 is ignored
      {5, kCom2, 2},
  };
  for (const Case& c : cases) {
    RadioRig rig;
    c_rad& rmp = rig.attach(kRmp, 1, 1);
    press(rig, rmp, 0);  // started, on COM1
    select_mode(rig.ctx, rmp, PanelMode{c.from}, SameMode::ignore);
    press(rig, rmp, c.keys);
    EXPECT_EQ(rmp.mode, c.mode) << "from " << c.from << " keys " << std::hex << c.keys;
  }
}

TEST(Rmp, FirstReportAlwaysLeavesItOnComOne) {
  for (uint32_t first : {0u, kCom2, kNav, kNav | kAdf}) {
    RadioRig rig;
    c_rad& rmp = rig.attach(kRmp, 1, 2);
    press(rig, rmp, first);
    EXPECT_EQ(rmp.mode, 1) << std::hex << first;
    EXPECT_EQ(rmp.started, 1);
  }
}

TEST(Rmp, WithoutOwnRadioBothComsCountAsForeign) {
  RadioRig rig;
  c_rad& rmp = rig.attach(kRmp, 1, 0);
  press(rig, rmp, 0);
  EXPECT_EQ(rmp.leds, 0x05);
  press(rig, rmp, kCom2);
  EXPECT_EQ(rmp.leds, 0x06);
  press(rig, rmp, kNav);
  EXPECT_EQ(rmp.leds, 0xC0);
}

TEST(Rmp, OwnRadioLightIsSharedAcrossAllRmpsButNotOtherPanels) {
  RadioRig rig;
  c_rad& one = rig.attach(kRmp, 1, 1);
  c_rad& multi = rig.attach(kMultiRadio, 2);
  c_rad& two = rig.attach(kRmp, 3, 2);
  press(rig, one, 0);
  press(rig, two, 0);
  rig.clear_marks();
  press(rig, one, kCom2);  // RMP 1 on the COM that is not its own
  EXPECT_EQ(one.leds & 0x04, 0x04);
  EXPECT_EQ(two.leds & 0x04, 0x04);
  EXPECT_EQ(two.leds_changed, 1);
  EXPECT_EQ(multi.leds, 0);
  EXPECT_EQ(multi.leds_changed, 0);
  press(rig, two, kCom2);  // RMP 2 on its own COM
  EXPECT_EQ(one.leds & 0x04, 0);
  EXPECT_EQ(two.leds & 0x04, 0);
}

}  // namespace
}  // namespace tarvion::test
