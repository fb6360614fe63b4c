// The panel layer: which devices become panels, their numbers and pairing,
// the device list lines, input routing, release on unplug and at stop.
#include "hid/panel_layer.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <system_error>
#include <thread>

#include "base/error.h"
#include "hid/panel_recognition.h"
#include "panel_layer_rig.h"

namespace tarvion {
namespace {

using testing::panel_traits;
using testing::PanelLayerRig;

std::string key(uint16_t number) {
  std::string text = std::to_string(number);
  return std::string(4 - text.size(), '0') + text;
}

TEST(DeviceNumber, IsTheLastFourCharactersOfTheDriverKeyAsDecimal) {
  const std::pair<const char*, uint16_t> cases[] = {
      {"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\0012", 12},
      {"{745a17a0}\\0000", 0},
      {"9999", 9999},
      {"12", 12},
      {"", 0},
      {"{745a17a0}\\00x2", 0},
      {"{745a17a0}\\-012", 0},
      {"hidraw3", 0},
  };
  for (auto [driver_key, expected] : cases) {
    EXPECT_EQ(device_number_of_driver_key(driver_key), expected) << driver_key;
  }
}

TEST(Recognition, VendorZeroWithProductEightOrTwelveToSeventeen) {
  for (uint16_t product = 0; product <= 20; ++product) {
    bool expected = product == 8 || (product >= 12 && product <= 17);
    EXPECT_EQ(is_panel(0, product), expected) << product;
    EXPECT_FALSE(is_panel(0x046D, product)) << product;
  }
}

TEST(DeviceListLine, NameDashDeviceNumber) {
  EXPECT_EQ(device_list_line(u"PANEL", 12), "PANEL - Device = 12");
  EXPECT_EQ(device_list_line(u"", 7), " - Device = 7");
  EXPECT_EQ(device_list_line(u"R\u00e9gl\u00e9", 0), "R\xc3\xa9gl\xc3\xa9 - Device = 0");
  EXPECT_EQ(device_list_line(std::u16string(1, char16_t(0xD800)), 1), "\xef\xbf\xbd - Device = 1");
}

struct Attach {
  uint16_t kind;
  uint16_t number;
};

TEST(Pairing, LowerNumberGetsTheFirstValueWhicheverIsFoundFirst) {
  const BasePair com_yes{16, 256}, com_no{256, 16}, nav_yes{512, 1024}, rmp_yes{1, 2},
      adf_yes{16384, 32768};
  struct Case {
    const char* name;
    BasePair com, nav, adf, rmp;
    std::vector<Attach> found;
    std::map<uint16_t, uint16_t> base_by_number;
  };
  const Case cases[] = {
      {"3 and 7, YES", com_yes, {}, {}, {}, {{13, 3}, {13, 7}}, {{3, 16}, {7, 256}}},
      {"7 then 3, YES", com_yes, {}, {}, {}, {{13, 7}, {13, 3}}, {{3, 16}, {7, 256}}},
      {"3 and 7, other value", com_no, {}, {}, {}, {{13, 3}, {13, 7}}, {{3, 256}, {7, 16}}},
      {"one COM, YES", com_yes, {}, {}, {}, {{13, 3}}, {{3, 16}}},
      {"one COM, other value", com_no, {}, {}, {}, {{13, 3}}, {{3, 256}}},
      {"key missing", {}, {}, {}, {}, {{13, 3}, {13, 7}}, {{3, 0}, {7, 0}}},
      {"three NAV 5, 9, 2",
       {},
       nav_yes,
       {},
       {},
       {{14, 5}, {14, 9}, {14, 2}},
       {{5, 1024}, {9, 1024}, {2, 512}}},
      {"two RMPs beside an ADF",
       {},
       {},
       adf_yes,
       rmp_yes,
       {{17, 4}, {15, 1}, {17, 6}},
       {{4, 1}, {6, 2}, {1, 16384}}},
      {"kinds pair apart", com_yes, nav_yes, {}, {}, {{14, 1}, {13, 2}}, {{1, 512}, {2, 16}}},
      {"multi-radio and transponder fixed",
       com_yes,
       {},
       {},
       {},
       {{8, 1}, {16, 2}},
       {{1, 0}, {2, 4096}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PanelLayerRig rig;
    rig.config.com_pair = c.com;
    rig.config.nav_pair = c.nav;
    rig.config.adf_pair = c.adf;
    rig.config.rmp_pair = c.rmp;
    for (Attach a : c.found) rig.hid.plug(panel_traits(a.kind, key(a.number)));
    rig.start();
    ASSERT_EQ(rig.lists.radios.size(), c.found.size());
    for (auto [number, base] : c.base_by_number) {
      ASSERT_NE(rig.radio(number), nullptr);
      EXPECT_EQ(rig.radio(number)->base_input, base) << "panel " << number;
    }
    rig.layer.panel_layer_stop();
  }
}

TEST(Pairing, PanelThatLosesItsPartnerKeepsItsValue) {
  PanelLayerRig rig;
  rig.config.com_pair = {16, 256};
  int three = rig.hid.plug(panel_traits(13, "0003"));
  rig.hid.plug(panel_traits(13, "0007"));
  rig.start();
  rig.hid.unplug(three);
  rig.notifier.deliver_pending();
  ASSERT_EQ(rig.lists.radios.size(), 1u);
  EXPECT_EQ(rig.radio(7)->base_input, 256);
  // A panel found later pairs against what is listed now: higher than the
  // last of its kind, it takes the second value, and 7 keeps its own.
  rig.hid.plug(panel_traits(13, "0009"));
  rig.notifier.deliver_pending();
  EXPECT_EQ(rig.radio(7)->base_input, 256);
  EXPECT_EQ(rig.radio(9)->base_input, 256);
  rig.layer.panel_layer_stop();
}

TEST(Discovery, OnlyPanelsGetObjectsButEveryDeviceIsClaimed) {
  PanelLayerRig rig;
  VirtualHidTraits mouse = panel_traits(13, "0001", u"MOUSE");
  mouse.vendor_id = 0x046D;
  rig.hid.plug(mouse);
  for (uint16_t product : {9, 10, 11, 18})
    rig.hid.plug(panel_traits(product, key(product), u"OTHER"));
  rig.hid.plug(panel_traits(13, "0012", u"COM"));
  rig.hid.plug(panel_traits(12, "0004", u"SWITCH"));
  rig.start();
  EXPECT_EQ(rig.last_lines(),
            (std::vector<std::string>{"COM - Device = 12", "SWITCH - Device = 4"}));
  EXPECT_EQ(rig.lists.radios.size(), 1u);
  EXPECT_EQ(rig.lists.switches.size(), 1u);
  for (const auto& device : rig.layer.controller().devices()) {
    EXPECT_TRUE(device->Claimed()) << device->PnPInfo().Driver;
    EXPECT_EQ(device->Reading(), is_panel(*device)) << device->PnPInfo().Driver;
  }
  rig.layer.panel_layer_stop();
}

TEST(Discovery, NewRadioPanelIsComposedBlankWithTheActiveValuesLoaded) {
  PanelLayerRig rig;
  rig.state.radio_value = {121500, 122800, 11030, 10950, 3795, 2000, 7000};
  rig.state.brightness = 40;
  rig.hid.plug(panel_traits(13, "0012"));
  rig.start();
  c_rad* rad = rig.radio(12);
  ASSERT_NE(rad, nullptr);
  EXPECT_EQ(rad->kind, 13);
  EXPECT_EQ(rad->device, rig.layer.panel_devices().at(0));
  EXPECT_EQ(rad->display_changed, 1);
  EXPECT_EQ(rad->digits, (std::array<uint8_t, 6>{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
  EXPECT_EQ(rad->bright, 40);
  EXPECT_EQ(rad->com1_active, 121500);
  EXPECT_EQ(rad->adf1_active, 3795);
  EXPECT_EQ(rad->atc_active, 7000);
  rig.layer.panel_layer_stop();
}

TEST(Discovery, NewSwitchPanelGetsOneAllZeroReportAtOnce) {
  PanelLayerRig rig;
  int id = rig.hid.plug(panel_traits(12, "0004"));
  rig.start();
  EXPECT_EQ(rig.hid.outputs(id), (std::vector<std::vector<uint8_t>>{std::vector<uint8_t>(9, 0)}));
  ASSERT_EQ(rig.lists.switches.size(), 1u);
  EXPECT_EQ(rig.lists.switches[0]->number, 4);
  EXPECT_EQ(rig.lists.switches[0]->changed, 0);
  rig.layer.panel_layer_stop();
}

TEST(Discovery, SuspendedUntilTheLayerStartsAndAfterItStops) {
  PanelLayerRig rig;
  rig.hid.plug(panel_traits(13, "0001"));
  rig.notifier.deliver_pending();  // the construction notification and the plug
  rig.layer.discover_panels();
  EXPECT_TRUE(rig.device_lists.empty());
  EXPECT_FALSE(rig.layer.controller().devices().at(0)->Claimed());

  rig.start();
  EXPECT_EQ(rig.last_lines(), std::vector<std::string>{"PANEL - Device = 1"});
  rig.layer.panel_layer_stop();
  std::size_t rebuilds = rig.device_lists.size();
  rig.hid.plug(panel_traits(13, "0002"));
  rig.notifier.deliver_pending();
  EXPECT_EQ(rig.device_lists.size(), rebuilds);
  for (const auto& device : rig.layer.controller().devices()) EXPECT_FALSE(device->Claimed());
}

TEST(Discovery, ListBoxIsRebuiltOnEveryPassInOrderOfDiscovery) {
  PanelLayerRig rig;
  rig.hid.plug(panel_traits(13, "0012", u"PANEL"));
  int sw = rig.hid.plug(panel_traits(12, "0003", u"SWITCH"));
  rig.hid.plug(panel_traits(14, "0005", u""), {.product_string_fails = true});
  rig.start();
  const std::vector<std::string> all = {"PANEL - Device = 12", "SWITCH - Device = 3",
                                        " - Device = 5"};
  EXPECT_EQ(rig.last_lines(), all);
  std::size_t rebuilds = rig.device_lists.size();
  rig.layer.discover_panels();  // nothing new: rebuilt all the same
  EXPECT_EQ(rig.device_lists.size(), rebuilds + 1);
  EXPECT_EQ(rig.last_lines(), all);
  rig.hid.unplug(sw);
  rig.notifier.deliver_pending();
  EXPECT_EQ(rig.last_lines(), (std::vector<std::string>{"PANEL - Device = 12", " - Device = 5"}));
  rig.layer.panel_layer_stop();
}

TEST(Discovery, PanelsSharingANumberShareTheirRemoval) {
  PanelLayerRig rig;
  int com = rig.hid.plug(panel_traits(13, "0007", u"COM"));
  rig.hid.plug(panel_traits(14, "0007", u"NAV"));
  rig.start();
  ASSERT_EQ(rig.lists.radios.size(), 2u);
  rig.hid.unplug(com);
  rig.notifier.deliver_pending();
  EXPECT_TRUE(rig.lists.radios.empty());
  EXPECT_TRUE(rig.last_lines().empty());
  // Only the unplugged device was handed back; the other stays lent.
  ASSERT_EQ(rig.layer.controller().devices().size(), 1u);
  EXPECT_TRUE(rig.layer.controller().devices()[0]->Claimed());
  rig.layer.panel_layer_stop();
}

TEST(Input, ReportsReachTheObjectsOfTheReportingDevicesNumber) {
  PanelLayerRig rig;
  rig.config.com_pair = {16, 256};
  int a = rig.hid.plug(panel_traits(13, "0003"));
  rig.hid.plug(panel_traits(13, "0007"));
  rig.start();
  // Payload byte 0 active low: bit 0 (outer phase A) adds 0x2 to base_input.
  rig.hid.inject_input(a, {0x00, 0xFE, 0xFF});
  ASSERT_TRUE(rig.pump_until([&] { return rig.radio(3)->input == 16 + 0x2; }));
  EXPECT_EQ(rig.radio(7)->input, 0u);
  rig.layer.panel_layer_stop();
}

TEST(Input, DataFromADeviceThatIsNotAPanelIsIgnored) {
  PanelLayerRig rig;
  VirtualHidTraits other = panel_traits(13, "0007");
  other.vendor_id = 1;
  rig.hid.plug(other);
  rig.hid.plug(panel_traits(13, "0007"));
  rig.start();
  THidDevice& stranger = *rig.layer.controller().devices().at(0);
  const uint8_t payload[2] = {0xFE, 0xFF};
  rig.layer.controller().HidCtlDeviceData(stranger, 0, payload, 2);
  EXPECT_EQ(rig.radio(7)->input, 0u);
  rig.layer.panel_layer_stop();
}

TEST(Stop, HandsEveryDeviceBackAndDropsTheLists) {
  PanelLayerRig rig;
  for (uint16_t kind : {8, 12, 13, 16}) rig.hid.plug(panel_traits(kind, key(kind)));
  VirtualHidTraits keyboard = panel_traits(1, "0099");
  keyboard.vendor_id = 0x05AC;
  rig.hid.plug(keyboard);
  rig.start();
  ASSERT_EQ(rig.layer.panel_devices().size(), 4u);
  rig.layer.panel_layer_stop();
  EXPECT_FALSE(rig.flags.panels_ready);
  EXPECT_TRUE(rig.layer.discovery_suspended());
  EXPECT_TRUE(rig.lists.radios.empty());
  EXPECT_TRUE(rig.lists.switches.empty());
  EXPECT_TRUE(rig.layer.panel_devices().empty());
  for (const auto& device : rig.layer.controller().devices()) {
    EXPECT_FALSE(device->Claimed());
    EXPECT_FALSE(device->Reading());
  }
  EXPECT_EQ(rig.hid.open_handle_count(), 0u);
}

TEST(Discovery, APanelWhoseReadThreadCannotBeCreatedStaysAndTheOthersComeAndTheErrorGoesUp) {
  PanelLayerRig rig;
  int refusals = 1;
  rig.layer.controller().SetThreadLauncher([&](std::function<void()> body) {
    if (refusals-- > 0) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    return std::thread(std::move(body));
  });
  rig.hid.plug(panel_traits(13, "0012"));
  rig.hid.plug(panel_traits(14, "0013"));
  EXPECT_THROW(rig.start(), TarvionError);
  EXPECT_EQ(rig.lists.radios.size(), 2u);
  EXPECT_EQ(rig.last_lines().size(), 2u);
  rig.layer.panel_layer_stop();
}

}  // namespace
}  // namespace tarvion
