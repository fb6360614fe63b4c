// Output reports: which marked images go out in one tick, in what order, and
// how the nine-byte frame meets the device's output report length.
#include "hid/output_reports.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "panel_layer_rig.h"

namespace tarvion {
namespace {

using testing::panel_traits;
using testing::PanelLayerRig;

struct Written {
  int device;
  std::vector<uint8_t> report;
};

class OutputReportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.hid.set_output_listener([this](int id, const std::vector<uint8_t>& report) {
      std::lock_guard lock(mutex);
      written.push_back({id, report});
    });
  }
  void TearDown() override { rig.layer.panel_layer_stop(); }
  // Starts the layer and forgets what discovery wrote and marked.
  void start() {
    rig.start();
    rig.layer.send_pending_reports();
    std::lock_guard lock(mutex);
    written.clear();
  }
  std::vector<Written> take() {
    std::lock_guard lock(mutex);
    return std::exchange(written, {});
  }

  PanelLayerRig rig;
  std::mutex mutex;
  std::vector<Written> written;
};

std::string hex_line(uint16_t number, const std::vector<uint8_t>& report) {
  std::ostringstream out;
  out << number;
  char byte[4];
  for (uint8_t b : report) {
    std::snprintf(byte, sizeof byte, " %02X", b);
    out << byte;
  }
  return out.str();
}

std::vector<std::string> golden(const std::string& name) {
  std::ifstream in(std::string(TARVION_TEST_DATA) + "/golden/" + name);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

TEST_F(OutputReportsTest, OneTickWritesRadiosLastToFirstDisplayBeforeLightsThenSwitches) {
  std::map<int, uint16_t> number_of;
  number_of[rig.hid.plug(panel_traits(8, "0001"))] = 1;
  number_of[rig.hid.plug(panel_traits(17, "0002"))] = 2;
  number_of[rig.hid.plug(panel_traits(13, "0003"))] = 3;
  number_of[rig.hid.plug(panel_traits(12, "0004"))] = 4;
  number_of[rig.hid.plug(panel_traits(12, "0005"))] = 5;
  start();
  ASSERT_EQ(rig.lists.radios.size(), 3u);
  ASSERT_EQ(rig.lists.switches.size(), 2u);

  c_rad& multi = *rig.lists.radios[0];
  multi.bright = 0x28;
  multi.display_changed = 1;
  c_rad& rmp = *rig.lists.radios[1];
  rmp.digits = {0x00, 0x85, 0x12, 0x00, 0x60, 0x13};
  rmp.dots = 0x0A;
  rmp.leds = 0x51;
  rmp.bright = 0x79;
  rmp.display_changed = 1;
  rmp.leds_changed = 1;
  c_rad& com = *rig.lists.radios[2];
  com.digits = {0x00, 0x80, 0x11, 0x00, 0x80, 0x11};
  com.dots = 0x88;
  com.bright = 0x79;
  com.display_changed = 1;
  c_efis& sw4 = *rig.lists.switches[0];
  sw4.bright = 0x79;
  sw4.digit_high = 10;
  sw4.digit_low = 10;
  sw4.leds = 3;
  sw4.changed = 1;
  c_efis& sw5 = *rig.lists.switches[1];
  sw5.bright = 0x30;
  sw5.digit_low = 7;
  sw5.leds = 0x40;
  sw5.changed = 1;

  rig.layer.send_pending_reports();
  std::vector<std::string> lines;
  for (const Written& w : take()) lines.push_back(hex_line(number_of[w.device], w.report));
  EXPECT_EQ(lines, golden("pending_reports.hex"));
  for (const auto& r : rig.lists.radios) {
    EXPECT_EQ(r->display_changed, 0);
    EXPECT_EQ(r->leds_changed, 0);
  }
  for (const auto& s : rig.lists.switches) EXPECT_EQ(s->changed, 0);
  rig.layer.send_pending_reports();
  EXPECT_TRUE(take().empty());
}

TEST_F(OutputReportsTest, ImageMarkedTwiceInOneTickGoesOutOnceInItsLastForm) {
  rig.hid.plug(panel_traits(13, "0003"));
  start();
  ASSERT_EQ(rig.lists.radios.size(), 1u);
  c_rad& com = *rig.lists.radios[0];
  com.digits[0] = 0x11;
  com.display_changed = 1;
  com.digits[0] = 0x22;
  com.display_changed = 1;
  rig.layer.send_pending_reports();
  auto sent = take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].report[1], 0x22);
}

TEST_F(OutputReportsTest, NothingIsWrittenWhileThePanelLayerIsNotStarted) {
  rig.hid.plug(panel_traits(13, "0003"));
  start();
  ASSERT_EQ(rig.lists.radios.size(), 1u);
  rig.lists.radios[0]->display_changed = 1;
  rig.flags.panels_ready = false;
  rig.layer.send_pending_reports();
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(rig.lists.radios[0]->display_changed, 1);
  rig.flags.panels_ready = true;
}

TEST_F(OutputReportsTest, MarksAreClearedWhenTheWriteFails) {
  int id = rig.hid.plug(panel_traits(13, "0003"));
  start();
  ASSERT_EQ(rig.lists.radios.size(), 1u);
  rig.hid.set_faults(id, {.write_fails = true});
  rig.lists.radios[0]->display_changed = 1;
  rig.layer.send_pending_reports();
  EXPECT_EQ(rig.lists.radios[0]->display_changed, 0);
  rig.hid.set_faults(id, {});
  rig.layer.send_pending_reports();
  EXPECT_TRUE(take().empty());  // no retry
}

TEST_F(OutputReportsTest, FrameIsSizedToTheOutputReportLength) {
  struct Case {
    uint16_t length;
    std::vector<uint8_t> expected;
  };
  const Case cases[] = {
      {9, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
      {5, {0, 1, 2, 3, 4}},
      {1, {0}},
      {12, {0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0}},
      {0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    VirtualHidTraits traits = panel_traits(13, "0003");
    traits.output_report_length = c.length;
    int id = rig.hid.plug(traits);
    start();
    ASSERT_EQ(rig.lists.radios.size(), 1u);
    c_rad& com = *rig.lists.radios[0];
    com.digits = {1, 2, 3, 4, 5, 6};
    com.dots = 7;
    com.bright = 8;
    com.display_changed = 1;
    rig.layer.send_pending_reports();
    auto sent = take();
    if (c.length == 0) {
      EXPECT_TRUE(sent.empty());
    } else {
      ASSERT_EQ(sent.size(), 1u);
      EXPECT_EQ(sent[0].report, c.expected);
    }
    rig.hid.unplug(id);
    rig.notifier.deliver_pending();
  }
}

TEST_F(OutputReportsTest, StalledRmpGetsItsNewestDisplayAndLightsOnceItRecoversOthersGoOn) {
  int rmp_id = rig.hid.plug(panel_traits(17, "0001"));
  int com_id = rig.hid.plug(panel_traits(13, "0002"));
  start();
  c_rad* rmp = rig.radio(1);
  c_rad* com = rig.radio(2);
  ASSERT_TRUE(rmp && com);
  rig.hid.set_faults(rmp_id, {.write_stalls = true});
  for (uint8_t tick = 1; tick <= 5; ++tick) {
    rmp->digits = {0x00, tick, 0x22, 0x33, 0x44, 0x55};
    rmp->dots = 0x0A;
    rmp->bright = 0x79;
    rmp->leds = static_cast<uint8_t>(0x10 + tick);
    rmp->display_changed = 1;
    rmp->leds_changed = 1;
    com->bright = tick;
    com->display_changed = 1;
    rig.layer.send_pending_reports();
  }
  std::vector<Written> during = take();
  // The stall never holds a report of another panel back.
  rig.hid.set_faults(rmp_id, {});
  std::vector<std::vector<uint8_t>> com_reports;
  for (const Written& w : during) {
    EXPECT_EQ(w.device, com_id);
    com_reports.push_back(w.report);
  }
  ASSERT_EQ(com_reports.size(), 5u);
  EXPECT_EQ(com_reports.back()[8], 5);

  // After the report the device held when it stalled, only the newest of each kind.
  ASSERT_TRUE(rig.pump_until([&] { return rig.hid.outputs(rmp_id).size() >= 3; }));
  rig.layer.panel_layer_stop();
  std::vector<std::vector<uint8_t>> rmp_reports;
  for (const Written& w : take()) {
    if (w.device == rmp_id) rmp_reports.push_back(w.report);
  }
  const std::vector<std::vector<uint8_t>> expected{
      {0x00, 0x00, 0x01, 0x22, 0x33, 0x44, 0x55, 0x0A, 0x79},
      {0x00, 0x15, 0x05, 0x22, 0x33, 0x44, 0x55, 0x8A, 0x79},
      {0x00, 0x00, 0x05, 0x22, 0x33, 0x44, 0x55, 0x0A, 0x79},
  };
  EXPECT_EQ(rmp_reports, expected);
}

TEST_F(OutputReportsTest, QueryOnlyPanelTakesNoReports) {
  int id = rig.hid.plug(panel_traits(13, "0003"), {.query_only = true});
  start();
  ASSERT_EQ(rig.lists.radios.size(), 1u);
  rig.lists.radios[0]->display_changed = 1;
  rig.layer.send_pending_reports();
  EXPECT_TRUE(rig.hid.outputs(id).empty());
  EXPECT_EQ(rig.lists.radios[0]->display_changed, 0);
}

}  // namespace
}  // namespace tarvion
