// One exchange against the in-memory service: what is read back into the
// switch panel, and what is written for marked radios and switch values.
#include "fsuipc/fsuipc_exchange.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fsuipc_test_support.h"
#include "platform/virtual/in_memory_fsuipc.h"
#include "radio/radio_fields.h"
#include "radio/radio_panel.h"

namespace tarvion {
namespace {

using Write = InMemoryFsuipc::Write;
using test::le;

class Exchange : public ::testing::Test {
 protected:
  void SetUp() override {
    // The shared state as the start-up sequence leaves it.
    state.flaps_step = 99999;
    state.radio_dirty.fill(1);
    state.switch_dirty[9] = 1;
    state.radio_value = {118000, 121500, 10800, 11030, 3795, 1000, 1200};
    state.mode_flag[5] = 1;
    exchange.reset_exchange_state();
    exchange.fill_fsuipc_read_table();
    FsuipcCode code;
    ASSERT_TRUE(client.fsuipc_open(kAnySimulator, code));
    service.set_flaps(2048, 0);
    forget_traffic();
  }

  void forget_traffic() {
    service.blocks.clear();
    service.writes.clear();
  }
  c_rad& add_radio_panel() {
    lists.radios.push_back(std::make_unique<c_rad>(make_c_rad(kComPanel, 1, 16)));
    return *lists.radios.back();
  }
  c_efis& add_switch_panel() {
    lists.switches.push_back(std::make_unique<c_efis>());
    return *lists.switches.back();
  }
  // Runs one exchange that must succeed and returns what it wrote.
  std::vector<Write> run() {
    forget_traffic();
    EXPECT_TRUE(exchange.fsuipc_exchange());
    return service.writes;
  }

  InMemoryFsuipc service;
  FsuipcClient client{service};
  RadioState state;
  PanelLists lists;
  Config config;
  RadioContext ctx{state, lists, config};
  FsuipcExchange exchange{client, ctx};
};

TEST_F(Exchange, FirstExchangeSendsTheGoldenReadAndWriteBlocks) {
  add_radio_panel();
  c_efis& efis = add_switch_panel();
  ASSERT_TRUE(exchange.fsuipc_exchange());
  ASSERT_EQ(service.blocks.size(), 2u) << "one block of reads, one of writes";
  const auto reads = test::load_hex_fixture("exchange_reads.hex");
  const auto writes = test::load_hex_fixture("exchange_writes.hex");
  EXPECT_EQ(service.blocks[0], reads) << test::hex_dump(service.blocks[0]);
  EXPECT_EQ(service.blocks[1], writes) << test::hex_dump(service.blocks[1]);
  // Every read counted as a change.
  EXPECT_EQ(state.flaps_step, 2048);
  EXPECT_EQ(state.switch_value[10], 0x40);
  EXPECT_EQ(efis.leds, 0x40);
  EXPECT_EQ(efis.digit_high, 0);
  EXPECT_EQ(efis.digit_low, 0);
  EXPECT_EQ(state.radio_dirty, (std::array<uint8_t, kRadioCount>{}));
  EXPECT_EQ(state.switch_dirty, (std::array<uint8_t, kSwitchValueCount>{}));
}

TEST_F(Exchange, WithoutPanelsOnlyReadsAndMarksWaitForAPanel) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(run().empty());
    EXPECT_EQ(service.blocks.size(), 1u);
  }
  EXPECT_EQ(state.radio_dirty, (std::array<uint8_t, kRadioCount>{1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(state.switch_dirty[9], 1);
  EXPECT_EQ(state.switch_dirty[8], 1) << "the trim re-centring waits too";

  add_radio_panel();
  std::vector<Write> written = run();
  EXPECT_EQ(written.size(), 12u) << "every radio, no switch value";
  EXPECT_EQ(state.switch_dirty[9], 1);

  add_switch_panel();
  written = run();
  EXPECT_EQ(written, (std::vector<Write>{{0x0BC0, le(0, 2)}, {0x0BDC, le(0, 4)}}));
}

TEST_F(Exchange, ARadioWhoseOptionIsOffIsNeverWrittenAndStaysMarked) {
  config.active_write[NAV2] = false;
  add_radio_panel();
  for (int i = 0; i < 3; ++i) {
    state.radio_dirty.fill(1);  // the main cycle's refresh
    for (const Write& w : run()) EXPECT_NE(w.offset, 0x0352);
    EXPECT_EQ(state.radio_dirty, (std::array<uint8_t, kRadioCount>{0, 0, 0, 1, 0, 0, 0}));
  }
}

TEST_F(Exchange, RadioWritesCarryTheFrequencyInBcd) {
  struct Case {
    std::string name;
    int radio;
    int32_t value;
    uint8_t flag;  // the radio's switch flag, where it has one
    std::vector<Write> writes;
  };
  const std::vector<Case> cases = {
      {"COM1 118.000", COM1, 118000, 0, {{0x034E, le(0x1800, 2)}}},
      {"COM1 136.995 drops the 5 kHz digit", COM1, 136995, 0, {{0x034E, le(0x3699, 2)}}},
      {"COM2 121.500", COM2, 121500, 0, {{0x3118, le(0x2150, 2)}}},
      {"NAV1 108.00", NAV1, 10800, 0, {{0x0350, le(0x0800, 2)}}},
      {"NAV2 117.95", NAV2, 11795, 0, {{0x0352, le(0x1795, 2)}}},
      {"ADF1 1234.5 kHz, switch on",
       ADF1,
       12345,
       1,
       {{0x034C, le(0x0234, 2)}, {0x0356, le(0x0105, 2)}, {0x3107, le(1, 1)}}},
      {"ADF2 379.5 kHz, switch off",
       ADF2,
       3795,
       0,
       {{0x02D4, le(0x0379, 2)}, {0x02D6, le(0x0005, 2)}, {0x02FB, le(0, 1)}}},
      {"ADF2 any non-zero flag writes 1",
       ADF2,
       17999,
       7,
       {{0x02D4, le(0x0799, 2)}, {0x02D6, le(0x0109, 2)}, {0x02FB, le(1, 1)}}},
      {"transponder 7700, mode switch on",
       ATC,
       7700,
       1,
       {{0x0354, le(0x7700, 2)}, {0x7B91, le(1, 1)}}},
      {"transponder 0000", ATC, 0, 0, {{0x0354, le(0, 2)}, {0x7B91, le(0, 1)}}},
      {"a start value below the range still gives valid BCD", COM1, 0, 0, {{0x034E, le(0, 2)}}},
  };
  add_radio_panel();
  run();  // clears the start-up marks
  const int flag_of[kRadioCount] = {0, 0, 0, 0, 5, 6, 7};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state.radio_value[c.radio] = c.value;
    if (flag_of[c.radio] != 0) state.mode_flag[flag_of[c.radio]] = c.flag;
    state.radio_dirty[c.radio] = 1;
    EXPECT_EQ(run(), c.writes);
    EXPECT_EQ(state.radio_dirty[c.radio], 0);
  }
}

TEST_F(Exchange, SwitchPanelWritesGoToEveryOffsetOfTheirRow) {
  struct Case {
    int k;
    int32_t value;
    std::vector<Write> writes;
  };
  const std::vector<Case> cases = {
      {0, 16383, {{0x0BE8, le(16383, 4)}}},
      {1, 0x1233F, {{0x0D0C, le(0x233F, 2)}}},
      {2, 1, {{0x3B78, le(1, 4)}, {0x3AB8, le(1, 4)}, {0x39F8, le(1, 4)}, {0x3938, le(1, 4)}}},
      {3, 0x101, {{0x3102, le(1, 1)}}},
      {4, 1, {{0x3103, le(1, 1)}}},
      {5, 1, {{0x029C, le(1, 1)}}},
      {6, 1, {{0x3B98, le(1, 4)}, {0x3AD8, le(1, 4)}, {0x3A18, le(1, 4)}, {0x3958, le(1, 4)}}},
      {7, 3, {{0x0892, le(3, 2)}, {0x092A, le(3, 2)}, {0x09C2, le(3, 2)}, {0x0A5A, le(3, 2)}}},
      {8, -16383, {{0x0BC0, le(0xC001, 2)}}},
      {9, 16383, {{0x0BDC, le(16383, 4)}}},
      {10, 0x3F, {}},  // the lights are never sent
  };
  add_switch_panel();
  run();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.k);
    state.switch_value[c.k] = c.value;
    state.switch_dirty[c.k] = 1;
    forget_traffic();
    ASSERT_TRUE(exchange.fsuipc_exchange());
    EXPECT_EQ(service.writes, c.writes);
    EXPECT_EQ(service.blocks.size(), c.writes.empty() ? 1u : 2u);
    if (c.k < 10) {
      EXPECT_EQ(state.switch_dirty[c.k], 0);
    }
  }
}

TEST_F(Exchange, GearLightsFollowTheLegsAsTheSimulatorMovesThem) {
  struct Case {
    std::string name;
    bool all_lights;
    int32_t lever;
    std::array<int32_t, 3> legs;
    int32_t bits;  // switch_value[10]
    uint8_t leds;  // shown on the switch panel
  };
  const std::vector<Case> cases = {
      {"lever down, gear down", true, 16383, {16383, 16383, 16383}, 0x07, 0x07},
      {"lever up, gear still down", true, 0, {16383, 16383, 16383}, 0x38, 0x38},
      {"lever up, gear up", true, 0, {0, 0, 0}, 0x00, 0x00},
      {"lever down, first leg moving", true, 16383, {9000, 16383, 16383}, 0x15, 0x15},
      {"without RTREN the panel shows none of them",
       false,
       16383,
       {16383, 16383, 16383},
       0x07,
       0x00},
  };
  c_efis& efis = add_switch_panel();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    config.all_lights = c.all_lights;
    state.switch_value[0] = c.lever;
    service.set_gear_legs(1, 1, 1);  // a different reading first, so the next one changes
    run();
    service.set_gear_legs(c.legs[0], c.legs[1], c.legs[2]);
    run();
    EXPECT_EQ(state.switch_value[10], c.bits);
    EXPECT_EQ(efis.leds, c.leds);
  }
}

TEST_F(Exchange, GearLightsWaitForALegToMove) {
  service.set_gear_legs(0, 0, 0);
  run();
  state.switch_value[0] = 16383;  // lever down, legs not moved yet
  run();
  EXPECT_EQ(state.switch_value[10] & 0x3F, 0);
  service.set_gear_legs(0, 0, 50);
  run();
  EXPECT_EQ(state.switch_value[10] & 0x3F, 0x38) << "all three pairs brought up to date";
}

TEST_F(Exchange, FlapsLightFollowsEachChangeOfTheIndicator) {
  for (bool all_lights : {true, false}) {
    SCOPED_TRACE(all_lights);
    config.all_lights = all_lights;
    exchange.reset_exchange_state();
    c_efis& efis = add_switch_panel();
    const std::vector<std::pair<int32_t, bool>> steps = {
        {0, true},  // the first reading is a change
        {0, false}, {500, true}, {900, true}, {900, false}, {900, false}, {16383, true},
    };
    for (const auto& [indicator, lit] : steps) {
      service.write_offset(0x0BE0, 4, static_cast<uint32_t>(indicator));
      run();
      EXPECT_EQ((state.switch_value[10] & 0x40) != 0, lit) << indicator;
      EXPECT_EQ(efis.leds & 0x40, lit ? 0x40 : 0) << "shown with or without RTREN";
    }
    lists.switches.clear();
  }
}

TEST_F(Exchange, FlapPositionIsShownScaledToMflaps) {
  const std::vector<std::tuple<int32_t, uint16_t, uint8_t, uint8_t>> cases = {
      {30, 8192, 1, 5}, {30, 16383, 3, 0}, {30, 0, 0, 0}, {40, 12000, 2, 9}, {30, 300, 0, 1},
  };
  c_efis& efis = add_switch_panel();
  for (const auto& [mflaps, position, high, low] : cases) {
    config.mflaps = mflaps;
    service.write_offset(0x30E0, 2, 1);  // a different reading first
    run();
    service.write_offset(0x30E0, 2, position);
    efis.changed = 0;
    run();
    EXPECT_EQ(efis.digit_high, high) << position;
    EXPECT_EQ(efis.digit_low, low) << position;
    EXPECT_EQ(efis.changed, 1);
  }
}

TEST_F(Exchange, ANewFlapIncrementRecentresTheTrimInTheSameExchange) {
  add_switch_panel();
  run();
  state.switch_value[8] = 1234;
  service.write_offset(0x3BFA, 2, 4096);
  const std::vector<Write> written = run();
  EXPECT_EQ(state.flaps_step, 4096);
  EXPECT_EQ(state.switch_value[8], 0);
  EXPECT_EQ(state.switch_dirty[8], 0);
  EXPECT_EQ(written, (std::vector<Write>{{0x0BC0, le(0, 2)}}));
  EXPECT_TRUE(run().empty()) << "an unchanged increment leaves the trim alone";
}

TEST_F(Exchange, AFailedReadKeepsTheLastGoodValues) {
  add_switch_panel();
  state.switch_value[0] = 16383;
  service.set_gear_legs(16383, 16383, 16383);
  service.write_offset(0x30E0, 2, 8192);
  run();
  const FsuipcReadTable before = exchange.fsuipc_read_table();
  service.set_gear_legs(0, 0, 0);
  service.write_offset(0x0BE0, 4, 777);
  service.faults.failing_sends = 10;  // the whole read exchange
  EXPECT_TRUE(exchange.fsuipc_exchange()) << "nothing to write: the loss goes unnoticed";
  for (std::size_t i = 0; i < kFsuipcReadEntries; ++i) {
    EXPECT_EQ(exchange.fsuipc_read_table()[i].current, before[i].current) << i;
  }
  EXPECT_EQ(state.switch_value[10], 0x07) << "gear lights kept, flaps light out";
}

// FOLLOW_SIM: the simulator's own radio changes, in the BCD words the writes
// use, reach the radios and panels and are not written back; words a radio
// cannot hold, and words that only show the simulator has not yet taken a
// write, change nothing.
using SimWords = std::vector<std::pair<uint16_t, uint16_t>>;  // offset, word

struct FollowCase {
  const char* name;
  bool follow_sim;
  int radio;
  SimWords sim_words;
  std::optional<int32_t> panel_change;  // made just before
  int32_t active;                       // the radio's value afterwards
  bool taken;                           // the panels redraw
  size_t writes;                        // in the two exchanges that see the words
  uint16_t refreshed;                   // the refresh's word at the radio's first offset
};

void PrintTo(const FollowCase& c, std::ostream* os) {
  *os << c.name;
}

const FollowCase kFollowCases[] = {
    {"com1_four_bcd_digits", true, COM1, {{0x034E, 0x1830}}, {}, 118300, true, 0, 0x1830},
    {"com2_top_of_band", true, COM2, {{0x3118, 0x3699}}, {}, 136990, true, 0, 0x3699},
    {"nav1", true, NAV1, {{0x0350, 0x1795}}, {}, 11795, true, 0, 0x1795},
    {"nav2_50_khz", true, NAV2, {{0x0352, 0x0805}}, {}, 10805, true, 0, 0x0805},
    {"adf1", true, ADF1, {{0x034C, 0x0234}, {0x0356, 0x0105}}, {}, 12345, true, 0, 0x0234},
    {"adf2_tenths_only", true, ADF2, {{0x02D6, 0x0005}}, {}, 1005, true, 0, 0x0100},
    {"transponder", true, ATC, {{0x0354, 0x7700}}, {}, 7700, true, 0, 0x7700},
    {"com_below_band", true, COM1, {{0x034E, 0x1799}}, {}, 118000, false, 0, 0x1800},
    {"com_not_bcd", true, COM1, {{0x034E, 0x18A0}}, {}, 118000, false, 0, 0x1800},
    {"nav_above_band", true, NAV1, {{0x0350, 0x1800}}, {}, 10800, false, 0, 0x0800},
    {"adf_high", true, ADF1, {{0x034C, 0x0000}, {0x0356, 0x0200}}, {}, 3795, false, 0, 0x0379},
    {"transponder_digit_8", true, ATC, {{0x0354, 0x1280}}, {}, 1200, false, 0, 0x1200},
    {"write_not_yet_taken", true, COM1, {{0x034E, 0x1800}}, 120000, 120000, false, 1, 0x2000},
    {"without_follow_sim", false, COM1, {{0x034E, 0x1830}}, {}, 118000, false, 0, 0x1800},
};

class FollowSim : public Exchange, public ::testing::WithParamInterface<FollowCase> {};

TEST_P(FollowSim, TakesWhatTheSimulatorChanges) {
  const FollowCase& c = GetParam();
  config.follow_sim = c.follow_sim;
  const auto start = state.radio_value;
  constexpr uint16_t kFirstOffset[kRadioCount] = {0x034E, 0x3118, 0x0350, 0x0352,
                                                  0x034C, 0x02D4, 0x0354};
  constexpr PanelMode kMode[kRadioCount] = {kModeCom1, kModeCom2, kModeNav1,       kModeNav2,
                                            kModeAdf1, kModeAdf2, kModeTransponder};
  // The start values as the simulator holds them.
  const SimWords agreed = {{0x034E, 0x1800}, {0x3118, 0x2150}, {0x0350, 0x0800},
                           {0x0352, 0x1030}, {0x034C, 0x0379}, {0x0356, 0x0005},
                           {0x02D4, 0x0100}, {0x02D6, 0x0000}, {0x0354, 0x1200}};

  // A read that fails before any good one leaves zeros, which are no news.
  service.faults.answer = 0;
  run();
  service.faults.answer.reset();
  EXPECT_EQ(state.radio_value, start);

  // The start-up writes go out to a simulator that agrees.
  for (const auto& [offset, word] : agreed) service.write_offset(offset, 2, word);
  c_rad& other = add_radio_panel();  // in no mode
  lists.radios.push_back(std::make_unique<c_rad>(make_c_rad(kMultiRadio, 2, 0)));
  c_rad& shows = *lists.radios.back();
  load_active_values(state, shows);
  select_mode(ctx, shows, kMode[c.radio], SameMode::refresh);
  run();
  ASSERT_EQ(state.radio_value, start);
  shows.display_changed = 0;

  if (c.panel_change) {
    state.radio_value[c.radio] = *c.panel_change;
    state.radio_dirty[c.radio] = 1;
  }
  // Twice, as a simulator that holds its words shows them.
  size_t writes = 0;
  for (int i = 0; i < 2; ++i) {
    for (const auto& [offset, word] : c.sim_words) service.write_offset(offset, 2, word);
    writes += run().size();
  }
  EXPECT_EQ(state.radio_value[c.radio], c.active);
  EXPECT_EQ(writes, c.writes);
  EXPECT_EQ(state.radio_dirty, (std::array<uint8_t, kRadioCount>{}));
  EXPECT_EQ(shows.display_changed, c.taken ? 1 : 0);
  if (c.taken) {
    EXPECT_EQ(shows.shown_active, c.active);
    EXPECT_EQ(active_value(other, c.radio), c.active);
  }

  state.radio_dirty.fill(1);  // the main cycle's refresh
  std::optional<uint16_t> refreshed;
  for (const Write& w : run()) {
    if (w.offset == kFirstOffset[c.radio]) {
      refreshed = static_cast<uint16_t>(w.bytes[0] | w.bytes[1] << 8);
    }
  }
  EXPECT_EQ(refreshed, c.refreshed);
  EXPECT_EQ(state.radio_value[c.radio], c.active);
}

INSTANTIATE_TEST_SUITE_P(Exchange, FollowSim, ::testing::ValuesIn(kFollowCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Exchange, AFailedWriteIsReported) {
  add_radio_panel();
  service.faults.answer = 0;
  EXPECT_FALSE(exchange.fsuipc_exchange());
}

}  // namespace
}  // namespace tarvion
