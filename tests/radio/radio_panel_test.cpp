#include "radio/radio_panel.h"

#include <gtest/gtest.h>

#include "radio_rig.h"

namespace tarvion::test {
namespace {

// Runs one input word through the handler, as the decoder does after a change.
void press(RadioRig& rig, c_rad& rad, uint32_t word) {
  rad.input = word;
  rad.last_input = word;
  handle_radio_input(rig.ctx, rad);
}

TEST(RadioPanel, SeveralModeBitsInOneWordLastInOrderWins) {
  struct Case {
    uint32_t word;
    int32_t mode;
  } const cases[] = {
      {0x10 | 0x8000, 6},    // COM1 and ADF2
      {0x100 | 0x200, 3},    // COM2 and NAV1
      {0x4000 | 0x1000, 5},  // ATC comes before ADF1 in the order
      {0x400 | 0x1000, 7},   // NAV2 and ATC
      {0x10 | 0x100 | 0x200 | 0x400, 4},
      {0x800, 0},  // bit 11 selects nothing
  };
  for (const Case& c : cases) {
    RadioRig rig;
    c_rad& rad = rig.attach(kMultiRadio, 1);
    press(rig, rad, c.word);
    EXPECT_EQ(rad.mode, c.mode) << std::hex << c.word;
  }
}

TEST(RadioPanel, TransferSwapsOncePerPress) {
  RadioRig rig;
  c_rad& rad = rig.attach(kMultiRadio, 1);
  rad.com2_standby = 125000;
  press(rig, rad, 0x100);
  struct Step {
    uint32_t word;
    int32_t active;
  } const steps[] = {
      {0x101, 125000},                            // pressed
      {0x101 | 0x2000, 125000}, {0x101, 125000},  // held through other changes
      {0x100, 125000},                            // released
      {0x101, 118000},                            // pressed again: swaps back
  };
  for (const Step& s : steps) {
    press(rig, rad, s.word);
    EXPECT_EQ(rad.com2_active, s.active) << std::hex << s.word;
    EXPECT_EQ(rig.state.radio_value[COM2], s.active);
  }
}

TEST(RadioPanel, TransferSharesTheActiveValueOnlyWithPanelsOfTheSameModeNumber) {
  RadioRig rig;
  c_rad& a = rig.attach(kMultiRadio, 1);
  c_rad& b = rig.attach(kMultiRadio, 2);
  c_rad& rmp = rig.attach(kRmp, 3, 1);
  c_rad& twin = rig.attach(kMultiRadio, 1);                   // shares a's device number
  press(rig, a, 0x200);                                       // a: NAV1 as mode 3
  press(rig, b, 0x200);                                       // b: NAV1 as mode 3
  select_mode(rig.ctx, rmp, kModeRmpNav1, SameMode::ignore);  // the RMP: NAV1 as mode 8
  a.nav1_standby = 11150;
  b.nav1_standby = 10900;
  rig.clear_marks();

  press(rig, a, 0x201);

  EXPECT_EQ(rig.state.radio_value[NAV1], 11150);
  EXPECT_EQ(rig.state.radio_dirty[NAV1], 1);
  EXPECT_EQ(b.nav1_active, 11150);
  EXPECT_EQ(b.shown_active, 11150) << "same mode: shown at once";
  EXPECT_EQ(b.display_changed, 1);
  EXPECT_EQ(b.nav1_standby, 10900) << "standby values are never shared";
  EXPECT_EQ(rmp.nav1_active, 11150);
  EXPECT_EQ(rmp.shown_active, 10800) << "mode 8 is not mode 3: not refreshed";
  EXPECT_EQ(rmp.display_changed, 0);
  EXPECT_EQ(twin.nav1_active, 10800) << "objects of the same device number are skipped";
  select_mode(rig.ctx, rmp, kModeRmpNav2, SameMode::ignore);
  select_mode(rig.ctx, rmp, kModeRmpNav1, SameMode::ignore);
  EXPECT_EQ(rmp.shown_active, 11150) << "picked up at the next mode selection";
}

TEST(RadioPanel, SwitchFlagBitsMarkTheTransponderInEveryMode) {
  struct Case {
    int32_t mode_bit;
    size_t mode;
    uint32_t flag_bit;
    uint8_t flag;
  } const cases[] = {
      {0x1000, 7, 0x8, 1}, {0x1000, 7, 0x20, 0}, {0x10, 1, 0x8, 1},
      {0x4000, 5, 0x8, 1}, {0, 0, 0x8, 0},  // mode 0 has no flag of its own
  };
  for (const Case& c : cases) {
    RadioRig rig;
    c_rad& rad = rig.attach(kMultiRadio, 1);
    // Start from the other value, so the write shows; mode 0's entry stays 0.
    rig.state.mode_flag[c.mode] = c.mode == 0 ? 0 : static_cast<uint8_t>(1 - c.flag);
    press(rig, rad, static_cast<uint32_t>(c.mode_bit));
    rig.clear_marks();
    press(rig, rad, static_cast<uint32_t>(c.mode_bit) | c.flag_bit);
    EXPECT_EQ(rig.state.mode_flag[c.mode], c.flag) << "mode " << c.mode;
    EXPECT_EQ(rig.state.radio_dirty[ATC], 1) << "mode " << c.mode;
    EXPECT_EQ(rig.state.radio_dirty[ADF1], 0) << "mode " << c.mode;
  }
}

TEST(RadioPanel, AdfSwitchInputTogglesItsRadiosFlagOnChangeOnly) {
  RadioRig rig;
  c_rad& adf2 = rig.attach(kAdfPanel, 1, 32768);
  struct Step {
    uint32_t extra;  // besides the panel's own mode bit
    uint8_t flag;
    uint8_t dirty;
  } const steps[] = {
      {0, 1, 1},              // first report, switch open
      {0x2, 1, 0},            // a knob moves: switch unchanged, nothing marked
      {0x20000, 0, 1},        // switch closes
      {0x20000 | 0x6, 0, 0},  // unchanged again
      {0, 1, 1},              // opens
  };
  for (const Step& s : steps) {
    rig.state.radio_dirty[ADF2] = 0;
    press(rig, adf2, 32768u | s.extra);
    EXPECT_EQ(rig.state.mode_flag[6], s.flag) << std::hex << s.extra;
    EXPECT_EQ(rig.state.radio_dirty[ADF2], s.dirty) << std::hex << s.extra;
    EXPECT_EQ(rig.state.mode_flag[5], 0);
  }
}

TEST(RadioPanel, TransponderCodeIsLiveAtOnceAndReachesOtherPanels) {
  RadioRig rig;
  rig.state.radio_value[ATC] = 4521;
  c_rad& xpdr = rig.attach(kTransponderPanel, 1, 4096);
  c_rad& multi = rig.attach(kMultiRadio, 2);
  press(rig, multi, 0x1000);
  press(rig, xpdr, 4096);
  rig.clear_marks();

  press(rig, xpdr, 4096 | 0x40);  // inner knob up, thousands
  EXPECT_EQ(xpdr.atc_active, 5521) << "edits the code it shows, not the 1200 standby";
  EXPECT_EQ(rig.state.radio_value[ATC], 5521);
  EXPECT_EQ(rig.state.radio_dirty[ATC], 1);
  EXPECT_EQ(multi.shown_active, 5521);
  EXPECT_EQ(multi.atc_standby, 1200);

  // Another panel puts in a new code; the transponder goes on from that one.
  multi.atc_standby = 7000;
  press(rig, multi, 0x1001);
  EXPECT_EQ(xpdr.atc_active, 7000);
  press(rig, xpdr, 4096 | 0x40 | 0x80);  // up again, thousands
  EXPECT_EQ(xpdr.atc_active, 0);
  EXPECT_EQ(rig.state.radio_value[ATC], 0);
}

TEST(RadioPanel, SingleRadioPanelWithoutBaseInputStaysInModeZero) {
  for (uint16_t kind : {kComPanel, kNavPanel, kAdfPanel}) {
    RadioRig rig;
    c_rad& rad = rig.attach(kind, 1, 0);
    for (uint32_t word : {0u, 0x2u, 0x6u, 0x1u, 0x41u, 0xC0u}) press(rig, rad, word);
    EXPECT_EQ(rad.mode, 0) << kind;
    EXPECT_EQ(rig.state.radio_dirty, (std::array<uint8_t, kRadioCount>{})) << kind;
    EXPECT_EQ(rad.digits, (std::array<uint8_t, 6>{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA})) << kind;
    EXPECT_EQ(rad.com1_standby, 118000);
    EXPECT_EQ(rad.nav1_standby, 10800);
  }
}

TEST(RadioPanel, TestInputOnlyRecomposesOnChangeOrWhileHeld) {
  RadioRig rig;
  c_rad& rad = rig.attach(kNavPanel, 1, 512);
  press(rig, rad, 512);
  struct Step {
    uint32_t word;
    uint8_t test;
    uint8_t composed;
  } const steps[] = {
      {512 | 0x2000, 1, 1},
      {512 | 0x2000 | 0x20000, 1, 1},
      {512, 0, 1},
      {512 | 0x20000, 0, 0},
  };
  for (const Step& s : steps) {
    rad.display_changed = 0;
    press(rig, rad, s.word);
    EXPECT_EQ(rad.test, s.test) << std::hex << s.word;
    EXPECT_EQ(rad.display_changed, s.composed) << std::hex << s.word;
  }
}

}  // namespace
}  // namespace tarvion::test
