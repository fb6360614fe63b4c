// The virtual panel host's panels: their input reports must mean to Tarvion's
// decoding what the command said, and their output descriptions must read
// the reports as the panels show them.
#include <gtest/gtest.h>

#include <memory>

#include "panel_model.h"
#include "radio/input_decoding.h"

namespace tarvion {
namespace {

using virtual_panels::PanelModel;

// One panel object fed by the model, as the program would hold it.
struct Fed {
  Fed(uint16_t kind, uint16_t base_input) : model(kind) {
    lists.radios.push_back(std::make_unique<c_rad>(make_c_rad(kind, 1, base_input)));
    load_active_values(state, rad());
    send();
  }
  c_rad& rad() { return *lists.radios[0]; }
  void send() {
    std::vector<uint8_t> report = model.input_report();
    decode_input_report(ctx, model.kind(), 1, report.data() + 1, report.size() - 1);
  }
  void turn(const std::string& knob, int steps) {
    for (int i = 0; i != steps; i += steps > 0 ? 1 : -1) {
      ASSERT_TRUE(model.turn(knob, steps > 0 ? 1 : -1));
      send();
    }
  }
  void tap(const std::string& input) {
    ASSERT_TRUE(model.set_input(input, true));
    send();
    ASSERT_TRUE(model.set_input(input, false));
    send();
  }

  Config config;
  RadioState state{.radio_value = {118000, 118000, 10800, 10800, 1000, 1000, 1200}};
  PanelLists lists;
  RadioContext ctx{state, lists, config};
  PanelModel model;
};

TEST(VirtualPanelModel, QuadratureOfTheComOuterKnobIsActiveLow) {
  PanelModel com(13);
  EXPECT_EQ(com.input_report(), (std::vector<uint8_t>{0x00, 0xFF, 0xFF}));
  const uint8_t forward[] = {0xFE, 0xFC, 0xFD, 0xFF};
  for (uint8_t expected : forward) {
    ASSERT_TRUE(com.turn("outer", 1));
    EXPECT_EQ(com.input_report()[1], expected);
  }
  ASSERT_TRUE(com.turn("outer", -1));
  EXPECT_EQ(com.input_report()[1], 0xFD);
  EXPECT_FALSE(PanelModel(12).turn("outer", 1));
  EXPECT_FALSE(com.turn("middle", 1));
}

TEST(VirtualPanelModel, KnobsAndButtonsMeanToTheProgramWhatTheyAreCalled) {
  {
    Fed com(13, 16);  // COM1
    com.turn("outer", 3);
    EXPECT_EQ(com.rad().com1_standby, 121000);
    com.turn("inner", -2);
    EXPECT_EQ(com.rad().com1_standby, 121990);
    com.tap("swap");
    EXPECT_EQ(com.rad().com1_active, 121990);
  }
  {
    Fed nav(14, 512);  // NAV1
    nav.turn("outer", 1);
    EXPECT_EQ(nav.rad().nav1_standby, 10900);
  }
  {
    Fed xpdr(16, 4096);
    xpdr.turn("outer", 1);  // cursor to the second digit
    xpdr.turn("inner", 1);
    EXPECT_EQ(xpdr.rad().atc_standby, 1300);
  }
  {
    Fed rmp(17, 1);
    rmp.turn("inner", 1);  // the RMP's inner knob counts the other way on the wire
    EXPECT_EQ(rmp.rad().com1_standby, 118005);
    rmp.tap("nav");
    EXPECT_EQ(rmp.rad().mode, 8);
  }
  {
    Fed multi(8, 0);
    EXPECT_EQ(multi.rad().mode, 1);
    ASSERT_TRUE(multi.model.select("nav2"));
    multi.send();
    EXPECT_EQ(multi.rad().mode, 4);
  }
}

TEST(VirtualPanelModel, OutputIsDescribedAsThePanelShowsIt) {
  struct Case {
    uint16_t kind;
    std::vector<uint8_t> report;
    std::string shown;
  };
  const Case cases[] = {
      {13,
       {0, 0x00, 0x80, 0x11, 0x00, 0x90, 0x11, 0x88, 0x79},
       "display [118000] [119000]  dots 88  bright 121"},
      {13,
       {0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x00, 0x79},
       "display [      ] [      ]  dots 00  bright 121"},
      {14,
       {0, 0x00, 0x08, 0x01, 0x80, 0x10, 0xAA, 0x34, 0x79},
       "display [10800] [10800]  dots 34  bright 121"},
      {16,
       {0, 0x00, 0x00, 0x00, 0x02, 0x01, 0x0A, 0x05, 0x79},
       "display [1200]  dots 05  bright 121"},
      {17, {0, 0x51, 0x85, 0x12, 0x00, 0x60, 0x13, 0x8A, 0x79}, "lights  51  bright 121"},
      {12, {0, 0x79, 0x00, 0x07, 0x40, 0, 0, 0, 0}, "switch  digits [07]  lights 40  bright 121"},
      {13, {0, 1, 2}, "short output report (3 bytes)"},
  };
  for (const Case& c : cases) EXPECT_EQ(PanelModel(c.kind).describe_output(c.report), c.shown);
}

}  // namespace
}  // namespace tarvion
