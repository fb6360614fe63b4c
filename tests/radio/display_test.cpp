#include "radio/display.h"

#include <gtest/gtest.h>

#include "radio/output_frames.h"
#include "radio_rig.h"

namespace tarvion::test {
namespace {

using Frame = OutputFrame;

struct ComposeCase {
  const char* what;
  uint16_t kind;
  int32_t mode;
  int32_t active, standby;
  uint8_t test;
  bool emulate_test;
  uint32_t input;
  Frame want;  // the display report
};

TEST(Display, ComposesEveryKindAndMode) {
  const ComposeCase cases[] = {
      {"multi-radio mode 0 is blank",
       kMultiRadio,
       0,
       118000,
       118000,
       0,
       true,
       0,
       {0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x00, 0x79}},
      {"multi-radio COM2, six digits",
       kMultiRadio,
       2,
       136995,
       118000,
       0,
       true,
       0,
       {0, 0x95, 0x69, 0x13, 0x00, 0x80, 0x11, 0x88, 0x79}},
      {"multi-radio NAV2, five digits",
       kMultiRadio,
       4,
       11795,
       10800,
       0,
       true,
       0,
       {0, 0x95, 0x17, 0xA1, 0x00, 0x08, 0xA1, 0x44, 0x79}},
      {"multi-radio ADF2, 1000 shows 01000",
       kMultiRadio,
       6,
       1000,
       17999,
       0,
       true,
       0,
       {0, 0x00, 0x10, 0xA0, 0x99, 0x79, 0xA1, 0x22, 0x79}},
      {"multi-radio ATC, four digits, ends blank",
       kMultiRadio,
       7,
       7777,
       1200,
       0,
       true,
       0,
       {0, 0x7A, 0x77, 0xA7, 0x0A, 0x20, 0xA1, 0x00, 0x79}},
      {"multi-radio test input shows nothing special",
       kMultiRadio,
       1,
       118000,
       118000,
       1,
       true,
       0,
       {0, 0x00, 0x80, 0x11, 0x00, 0x80, 0x11, 0x88, 0x79}},
      {"multi-radio mode 8 is not its own: blank",
       kMultiRadio,
       8,
       10800,
       10800,
       0,
       true,
       0,
       {0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x00, 0x79}},
      {"COM panel test pattern",
       kComPanel,
       2,
       121500,
       118000,
       1,
       true,
       0,
       {0, 0x88, 0x88, 0x18, 0x88, 0x88, 0x18, 0x88, 0x79}},
      {"COM panel test without EMULATE_TEST",
       kComPanel,
       2,
       121500,
       118000,
       1,
       false,
       0,
       {0, 0x00, 0x15, 0x12, 0x00, 0x80, 0x11, 0x88, 0x79}},
      {"NAV panel, standby from position 6",
       kNavPanel,
       3,
       10800,
       11795,
       0,
       true,
       0,
       {0, 0x00, 0x08, 0x51, 0x79, 0x11, 0xAA, 0x34, 0x79}},
      {"NAV panel in a COM mode is blank",
       kNavPanel,
       1,
       118000,
       118000,
       0,
       true,
       0,
       {0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x00, 0x79}},
      {"ADF panel, annunciator off",
       kAdfPanel,
       6,
       3795,
       1000,
       0,
       true,
       0,
       {0, 0x95, 0x37, 0x00, 0x00, 0x01, 0x09, 0xFF, 0x79}},
      {"ADF panel, annunciator on",
       kAdfPanel,
       5,
       3795,
       1000,
       0,
       true,
       0x10000,
       {0, 0x95, 0x37, 0x00, 0x00, 0x01, 0x06, 0xFF, 0x79}},
      {"ADF panel test input changes nothing",
       kAdfPanel,
       5,
       3795,
       1000,
       1,
       true,
       0,
       {0, 0x95, 0x37, 0x00, 0x00, 0x01, 0x09, 0xFF, 0x79}},
      {"transponder, one digit a byte",
       kTransponderPanel,
       7,
       7654,
       1200,
       0,
       true,
       0,
       {0, 0x00, 0x04, 0x05, 0x06, 0x07, 0x0A, 0x05, 0x79}},
      {"transponder annunciator",
       kTransponderPanel,
       7,
       7654,
       1200,
       0,
       true,
       0x10000,
       {0, 0x00, 0x04, 0x05, 0x06, 0x07, 0x0A, 0x06, 0x79}},
      {"transponder test pattern",
       kTransponderPanel,
       7,
       7654,
       1200,
       1,
       true,
       0x10000,
       {0, 0x01, 0x08, 0x08, 0x08, 0x08, 0x0C, 0x07, 0x79}},
      {"transponder test without EMULATE_TEST",
       kTransponderPanel,
       7,
       7654,
       1200,
       1,
       false,
       0,
       {0, 0x00, 0x04, 0x05, 0x06, 0x07, 0x0A, 0x05, 0x79}},
      {"RMP ADF",
       kRmp,
       5,
       1000,
       2000,
       0,
       true,
       0,
       {0, 0x00, 0x10, 0xA0, 0x00, 0x20, 0xA0, 0x30, 0x79}},
      {"RMP NAV2",
       kRmp,
       9,
       11000,
       10800,
       0,
       true,
       0,
       {0, 0x00, 0x10, 0xA1, 0x00, 0x08, 0xA1, 0x05, 0x79}},
      {"digits beyond the field are dropped",
       kMultiRadio,
       3,
       123456,
       10800,
       0,
       true,
       0,
       {0, 0x56, 0x34, 0xA2, 0x00, 0x08, 0xA1, 0x44, 0x79}},
      {"a negative value leaves its field blank",
       kMultiRadio,
       1,
       -5,
       118000,
       0,
       true,
       0,
       {0, 0xAA, 0xAA, 0xAA, 0x00, 0x80, 0x11, 0x88, 0x79}},
  };
  for (const ComposeCase& c : cases) {
    RadioRig rig;
    rig.config.emulate_test = c.emulate_test;
    c_rad rad = make_c_rad(c.kind, 1, 0);
    rad.mode = c.mode;
    rad.shown_active = c.active;
    rad.shown_standby = c.standby;
    rad.test = c.test;
    rad.input = c.input;
    compose_display(rig.ctx, rad, DisplayFill::values);
    EXPECT_EQ(display_report(rad), c.want) << c.what;
    EXPECT_EQ(rad.display_changed, 1) << c.what;
  }
}

TEST(Display, BlankKeepsTheTransponderLeadByteAndTakesBrightness) {
  RadioRig rig;
  rig.state.brightness = 40;
  c_rad rad = make_c_rad(kTransponderPanel, 1, 4096);
  rad.digits = {1, 2, 3, 4, 5, 6};
  rad.dots = 7;
  compose_display(rig.ctx, rad, DisplayFill::blank);
  EXPECT_EQ(display_report(rad), (Frame{0, 1, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0, 40}));
}

TEST(Display, RmpLightByteByMode) {
  struct Case {
    int32_t mode;
    uint16_t own;
    uint8_t before;
    uint8_t leds;
  } const cases[] = {
      {1, 1, 0x04, 0x01}, {1, 2, 0x00, 0x05}, {2, 2, 0x04, 0x02},
      {2, 1, 0x00, 0x06}, {8, 2, 0x04, 0xC0}, {9, 1, 0x04, 0x48},
      {5, 1, 0x04, 0x54}, {5, 1, 0x00, 0x50},  // ADF keeps the own-radio bit as it was
      {3, 1, 0x33, 0x33},                      // never an RMP mode: lights untouched
  };
  for (const Case& c : cases) {
    RadioRig rig;
    c_rad rad = make_c_rad(kRmp, 1, c.own);
    rad.mode = c.mode;
    rad.leds = c.before;
    compose_display(rig.ctx, rad, DisplayFill::values);
    EXPECT_EQ(rad.leds, c.leds) << "mode " << c.mode << " own " << c.own;
  }
}

TEST(Display, BrightnessReachesEveryPanelAndMarksIt) {
  RadioRig rig;
  c_rad& a = rig.attach(kComPanel, 1, 16);
  c_rad& b = rig.attach(kRmp, 2, 1);
  c_efis& s = rig.attach_switch_panel(3);
  rig.clear_marks();
  rig.state.brightness = 57;
  push_brightness(rig.ctx);
  for (c_rad* r : {&a, &b}) {
    EXPECT_EQ(r->bright, 57);
    EXPECT_EQ(r->display_changed, 1);
    EXPECT_EQ(r->digits, (std::array<uint8_t, 6>{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
  }
  EXPECT_EQ(s.bright, 57);
  EXPECT_EQ(s.changed, 1);
}

TEST(Display, BlankAllPanelsLeavesEveryPanelDark) {
  RadioRig rig;
  rig.attach(kMultiRadio, 1);
  c_rad& adf = rig.attach(kAdfPanel, 2, 16384);
  c_rad& xpdr = rig.attach(kTransponderPanel, 3, 4096);
  c_efis& s = rig.attach_switch_panel(4);
  rig.report(kMultiRadio, 1, word_payload(0x10));
  rig.report(kAdfPanel, 2, {0xFF});
  rig.report(kTransponderPanel, 3, {0xFF, 0xFF});
  set_switch_digits(rig.ctx, 42);
  rig.clear_marks();
  rig.state.brightness = 1;
  blank_all_panels(rig.ctx);
  EXPECT_EQ(display_report(*rig.lists.radios[0]),
            (Frame{0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0, 1}));
  EXPECT_EQ(display_report(adf), (Frame{0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x00, 0, 1}));
  EXPECT_EQ(display_report(xpdr), (Frame{0, 0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0, 1}));
  EXPECT_EQ(switch_report(s), (Frame{0, 1, 10, 10, 0, 0, 0, 0, 0}));
  for (const auto& r : rig.lists.radios) EXPECT_EQ(r->display_changed, 1);
  EXPECT_EQ(s.changed, 1);
}

TEST(Display, SwitchPanelDigitsShowTwoDigitsClamped) {
  struct Case {
    int32_t value;
    uint8_t high, low;
  } const cases[] = {
      {7, 0, 7}, {0, 0, 0}, {42, 4, 2}, {99, 9, 9}, {100, 9, 9}, {12345, 9, 9}, {-3, 0, 0},
  };
  for (const Case& c : cases) {
    RadioRig rig;
    rig.state.brightness = 80;
    c_efis& one = rig.attach_switch_panel(1);
    c_efis& two = rig.attach_switch_panel(2);
    set_switch_digits(rig.ctx, c.value);
    for (c_efis* s : {&one, &two}) {
      EXPECT_EQ(s->digit_high, c.high) << c.value;
      EXPECT_EQ(s->digit_low, c.low) << c.value;
      EXPECT_EQ(s->bright, 80);
      EXPECT_EQ(s->changed, 1);
    }
  }
}

TEST(Display, SwitchPanelLightsPassOnlyBit0x40WithoutAllLights) {
  struct Case {
    int32_t bits;
    bool all;
    uint8_t leds;
  } const cases[] = {{0xFF, true, 0xFF},
                     {0xFF, false, 0x40},
                     {0xBF, false, 0x00},
                     {0x41, true, 0x41},
                     {0, true, 0}};
  for (const Case& c : cases) {
    RadioRig rig;
    c_efis& s = rig.attach_switch_panel(1);
    s.leds = 0x99;
    set_switch_leds(rig.ctx, c.bits, c.all);
    EXPECT_EQ(s.leds, c.leds) << std::hex << c.bits << " " << c.all;
    EXPECT_EQ(s.changed, 1);
  }
}

}  // namespace
}  // namespace tarvion::test
