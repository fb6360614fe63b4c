#include "radio/input_decoding.h"

#include <gtest/gtest.h>

#include "radio_rig.h"

namespace tarvion::test {
namespace {

struct WordCase {
  const char* what;
  uint16_t kind;
  uint16_t base_input;
  std::vector<uint8_t> payload;
  uint32_t word;
};

TEST(InputDecoding, EachLayoutBuildsItsWordFromInvertedBytes) {
  const WordCase cases[] = {
      {"kind 8 nothing active", kMultiRadio, 0, {0xFF, 0xFF}, 0},
      {"kind 8 byte 1 is the low byte", kMultiRadio, 0, {0xFF, 0xFE}, 0x0001},
      {"kind 8 byte 0 is the high byte", kMultiRadio, 0, {0x7F, 0xFF}, 0x8000},
      {"kind 17 all active", kRmp, 1, {0x00, 0x00}, 0xFFFF},
      {"COM outer A", kComPanel, 16, {active(0x01)}, 16 | 0x2},
      {"COM outer B", kComPanel, 16, {active(0x02)}, 16 | 0x4},
      {"COM test", kComPanel, 256, {active(0x04)}, 256 | 0x2000},
      {"COM byte 0 bit 3 is not used", kComPanel, 256, {active(0x08)}, 256},
      {"NAV inner B", kNavPanel, 512, {active(0x10)}, 512 | 0x80},
      {"NAV inner A", kNavPanel, 512, {active(0x20)}, 512 | 0x40},
      {"NAV transfer", kNavPanel, 1024, {active(0x40)}, 1024 | 0x1},
      {"NAV bit 7", kNavPanel, 1024, {active(0x80)}, 1024 | 0x20000},
      {"ADF bit 2 is the annunciator", kAdfPanel, 16384, {active(0x04)}, 16384 | 0x10000},
      {"ADF bit 7 is the ADF switch", kAdfPanel, 32768, {active(0x80)}, 32768 | 0x20000},
      {"transponder position 0", kTransponderPanel, 4096, {active(0x01), 0xFF}, 4096 | 0x8},
      {"transponder position 4", kTransponderPanel, 4096, {active(0x10), 0xFF}, 4096 | 0x20},
      {"transponder outer A, B", kTransponderPanel, 4096, {active(0x60), 0xFF}, 4096 | 0x6},
      {"transponder annunciator", kTransponderPanel, 4096, {active(0x80), 0xFF}, 4096 | 0x10000},
      {"transponder byte 1",
       kTransponderPanel,
       4096,
       {0xFF, active(0x0F)},
       4096 | 0x20000 | 0x40 | 0x80 | 0x2000},
      {"transponder bits above 3 of byte 1 unused",
       kTransponderPanel,
       4096,
       {0xFF, active(0xF0)},
       4096},
      // Two positions of the mode switch touching must not carry into the next bit.
      {"transponder positions 0 and 1 together",
       kTransponderPanel,
       4096,
       {active(0x03), 0xFF},
       4096 | 0x8},
      {"transponder positions 2, 3, 4 together",
       kTransponderPanel,
       4096,
       {active(0x1C), 0xFF},
       4096 | 0x20},
  };
  for (const WordCase& c : cases) {
    RadioRig rig;
    c_rad& rad = rig.attach(c.kind, 9, c.base_input);
    rig.report(c.kind, 9, c.payload);
    EXPECT_EQ(rad.input, c.word) << c.what;
    EXPECT_EQ(rad.last_input, c.word) << c.what;
  }
}

TEST(InputDecoding, ShortPayloadsAndUnknownKindsAreNotRead) {
  struct Case {
    uint16_t kind;
    size_t size;
  } const cases[] = {
      {kMultiRadio, 1}, {kRmp, 1},      {kTransponderPanel, 1},
      {kComPanel, 0},   {kAdfPanel, 0}, {kSwitchPanel, 4},
      {9, 64},          {0, 8},
  };
  for (const Case& c : cases) {
    RadioRig rig;
    c_rad& rad = rig.attach(kMultiRadio, 5);
    c_efis& efis = rig.attach_switch_panel(5);
    rig.clear_marks();
    // Exactly `size` bytes exist, so a read past them shows under the sanitizers.
    std::vector<uint8_t> payload(c.size, 0x00);
    decode_input_report(rig.ctx, c.kind, 5, payload.data(), payload.size());
    EXPECT_EQ(rad.started, 0) << c.kind << "/" << c.size;
    EXPECT_EQ(rad.input, 0u) << c.kind << "/" << c.size;
    EXPECT_EQ(efis.trim_last, 99999) << c.kind << "/" << c.size;
    EXPECT_EQ(rig.state.switch_dirty, (std::array<uint8_t, kSwitchValueCount>{}));
  }
  RadioRig rig;
  decode_input_report(rig.ctx, kMultiRadio, 5, nullptr, 2);  // no data at all
}

TEST(InputDecoding, EveryObjectOfTheNumberReceivesTheReportDecodedByTheReportingKind) {
  RadioRig rig;
  c_rad& com1 = rig.attach(kComPanel, 7, 16);
  c_rad& other = rig.attach(kComPanel, 8, 256);
  c_rad& com2 = rig.attach(kComPanel, 7, 256);
  rig.report(kComPanel, 7, {active(0x40)});
  EXPECT_EQ(com1.input, 16u | 0x1);
  EXPECT_EQ(com2.input, 256u | 0x1);
  EXPECT_EQ(com1.mode, 1);
  EXPECT_EQ(com2.mode, 2);
  EXPECT_EQ(other.started, 0);
  EXPECT_EQ(other.mode, 0);
}

TEST(InputDecoding, RmpReportsGoToTheRmpHandler) {
  // Word 0x8000 is the NAV key for an RMP but ADF2 in the common layout.
  RadioRig rig;
  c_rad& rmp = rig.attach(kRmp, 1, 1);
  c_rad& multi = rig.attach(kMultiRadio, 2);
  rig.report(kRmp, 1, word_payload(0));
  rig.report(kRmp, 1, word_payload(0x8000));
  rig.report(kMultiRadio, 2, word_payload(0x8000));
  EXPECT_EQ(rmp.mode, 8);
  EXPECT_EQ(multi.mode, 6);
}

TEST(InputDecoding, ActsOnTheFirstReportAndThenOnlyOnChange) {
  RadioRig rig;
  c_rad& rad = rig.attach(kMultiRadio, 1);
  rig.report(kMultiRadio, 1, word_payload(0));  // word 0, as last_input starts
  EXPECT_EQ(rad.started, 1) << "the first report starts the panel even with word 0";
  rig.report(kMultiRadio, 1, word_payload(0x10));
  rig.clear_marks();
  rig.report(kMultiRadio, 1, word_payload(0x10));
  EXPECT_EQ(rad.display_changed, 0);
  rig.report(kMultiRadio, 1, word_payload(0x12));  // the very first detent counts
  EXPECT_EQ(rad.com1_standby, 119000);
  EXPECT_EQ(rad.display_changed, 1);
}

struct SwitchCase {
  const char* what;
  std::vector<uint8_t> payload;
  uint16_t word_a, word_b, byte_c;
};

TEST(InputDecoding, SwitchPanelItems) {
  const SwitchCase cases[] = {
      {"at rest", {0xFF, 0xFF, 0x0F, 0xCF, 0x00}, 0, 0, 0},
      {"byte 0 is the low byte of word_a", {0xFE, 0x7F, 0x0F, 0xCF, 0x00}, 0x8001, 0, 0},
      {"word_b less 0x30F0", {0xFF, 0xFF, 0x00, 0xCF, 0x00}, 0, 0x000F, 0},
      {"word_b wraps below 0x30F0", {0xFF, 0xFF, 0xFF, 0xFF, 0x00}, 0, 0xCF10, 0},
      {"byte 4 taken as it is", {0xFF, 0xFF, 0x0F, 0xCF, 0x5A}, 0, 0, 0x5A},
  };
  for (const SwitchCase& c : cases) {
    RadioRig rig;
    c_efis& efis = rig.attach_switch_panel(3);
    rig.report(kSwitchPanel, 3, c.payload);
    EXPECT_EQ(efis.word_a, c.word_a) << c.what;
    EXPECT_EQ(efis.word_b, c.word_b) << c.what;
    EXPECT_EQ(efis.byte_c, c.byte_c) << c.what;
    EXPECT_EQ(efis.last_word_a, c.word_a) << c.what;
    EXPECT_EQ(efis.last_word_b, c.word_b) << c.what;
    EXPECT_EQ(efis.last_byte_c, c.byte_c) << c.what;
  }
}

TEST(InputDecoding, SwitchPanelActsOnFirstReportAndOnAnyItemChange) {
  RadioRig rig;
  rig.config.reverse_sw = true;  // at rest, every on/off switch then reads 1
  c_efis& efis = rig.attach_switch_panel(3);
  // Items equal to the start values 0, 65535, 0: still the first report.
  rig.report(kSwitchPanel, 3, {0xFF, 0xFF, 0x10, 0xCF, 0x00});
  EXPECT_EQ(efis.last_word_b, 0xFFFF);
  EXPECT_EQ(rig.state.switch_value[2], 1);
  EXPECT_EQ(rig.state.switch_dirty[2], 1);
  struct Step {
    std::vector<uint8_t> payload;
    bool acted;
  } const steps[] = {
      {{0xFF, 0xFF, 0x10, 0xCF, 0x00}, false},
      {{0xFF, 0xFF, 0x10, 0xCF, 0x01}, true},  // byte_c alone
      {{0xFF, 0xFF, 0x10, 0xCF, 0x01}, false},
      {{0xFE, 0xFF, 0x10, 0xCF, 0x01}, true},
  };
  for (const Step& s : steps) {
    rig.clear_marks();
    rig.report(kSwitchPanel, 3, s.payload);
    EXPECT_EQ(rig.state.switch_dirty[0], s.acted ? 1 : 0);
  }
}

}  // namespace
}  // namespace tarvion::test
