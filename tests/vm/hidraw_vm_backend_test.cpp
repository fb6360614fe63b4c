// The Linux backend alone over real hidraw devices: listing, identity and
// device numbers, what the queries answer, and a device removed while a read
// waits on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <ostream>
#include <thread>

#include "hid/panel_recognition.h"
#include "platform/linux/udev_devices.h"
#include "vm_rig.h"

namespace tarvion::testing {
namespace {

// The listed interfaces by product string (each test names its devices).
std::map<std::u16string, HidInterface> by_name(HidrawAccess& hid,
                                               const std::vector<HidInterface>& listed) {
  std::map<std::u16string, HidInterface> named;
  for (const HidInterface& interface : listed) {
    if (!made_by_uhid(interface.identity)) continue;  // the keyboard
    HidHandle handle = hid.open(interface.path, HidOpenMode::query_only);
    std::u16string name;
    if (handle != kNoHidHandle && hid.get_product_string(handle, name)) named[name] = interface;
    hid.close(handle);
  }
  return named;
}

uint16_t number_of(const HidInterface& interface) {
  return device_number_of_driver_key(interface.driver_key);
}

TEST(VmListing, IdentityAndNumberStayForADeviceAndItsPort) {
  HidrawAccess hid;
  UhidDevice a(com_panel("usb-vm-1/input0", "COM A"));
  UhidDevice b(com_panel("usb-vm-2/input0", "COM B"));
  UhidDevice c(com_panel("", "COM C"));  // no port known
  ASSERT_TRUE(a.created() && b.created() && c.created()) << "no /dev/uhid";

  auto first = by_name(hid, wait_for_listing(hid, 3));
  auto again = by_name(hid, hid.list_interfaces());
  ASSERT_EQ(first.size(), 3u);
  ASSERT_EQ(again.size(), 3u);
  std::set<std::string> identities;
  std::set<uint16_t> numbers;
  for (const auto& [name, interface] : first) {
    EXPECT_EQ(again.at(name).identity, interface.identity);
    EXPECT_EQ(again.at(name).driver_key, interface.driver_key);
    EXPECT_EQ(interface.path.rfind("/dev/hidraw", 0), 0u) << interface.path;
    identities.insert(interface.identity);
    numbers.insert(number_of(interface));
  }
  EXPECT_EQ(identities.size(), 3u) << "devices share an identity";
  EXPECT_EQ(numbers.size(), 3u) << "devices share a device number";
  EXPECT_EQ(numbers.count(0), 0u);

  // COM A unplugged and plugged back into its port: a new device, its number.
  a.unplug();
  ASSERT_EQ(wait_for_listing(hid, 2).size(), 2u);
  UhidDevice a2(com_panel("usb-vm-1/input0", "COM A2"));
  auto replugged = by_name(hid, wait_for_listing(hid, 3));
  ASSERT_EQ(replugged.size(), 3u);
  EXPECT_NE(replugged.at(u"COM A2").identity, first.at(u"COM A").identity);
  EXPECT_EQ(number_of(replugged.at(u"COM A2")), number_of(first.at(u"COM A")));
  EXPECT_EQ(replugged.at(u"COM B").identity, first.at(u"COM B").identity);
  EXPECT_EQ(number_of(replugged.at(u"COM C")), number_of(first.at(u"COM C")));
}

struct QueryCase {
  // Failures name the case, not its bytes.
  friend void PrintTo(const QueryCase& c, std::ostream* os) { *os << c.name; }
  std::string name;
  UhidDescription device;
  std::u16string product_string;
  uint16_t input_length, output_length;
};

class VmQueries : public ::testing::TestWithParam<QueryCase> {};

TEST_P(VmQueries, AttributesCapsAndProductStringComeFromTheDevice) {
  const QueryCase& c = GetParam();
  HidrawAccess hid;
  UhidDevice device(c.device);
  ASSERT_TRUE(device.created());
  std::vector<HidInterface> listed = wait_for_listing(hid, 1);
  ASSERT_EQ(listed.size(), 1u);
  HidHandle handle = hid.open(listed[0].path, HidOpenMode::read_write);
  ASSERT_NE(handle, kNoHidHandle) << hid.last_error();
  HidAttributes attributes;
  ASSERT_TRUE(hid.get_attributes(handle, attributes));
  EXPECT_EQ(attributes.vendor_id, c.device.vendor);
  EXPECT_EQ(attributes.product_id, c.device.product);
  HidCaps caps;
  ASSERT_TRUE(hid.get_caps(handle, caps));
  EXPECT_EQ(caps.input_report_length, c.input_length);
  EXPECT_EQ(caps.output_report_length, c.output_length);
  std::u16string name;
  ASSERT_TRUE(hid.get_product_string(handle, name));
  EXPECT_EQ(name, c.product_string);
  hid.close(handle);
  EXPECT_EQ(hid.open_handles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, VmQueries,
    ::testing::Values(
        QueryCase{"com_panel", com_panel("usb-vm-1/input0"), u"Pendra COM Panel", 4, 9},
        QueryCase{"switch_panel", switch_panel("usb-vm-1/input0"), u"Pendra Switch Panel", 6, 9},
        QueryCase{"numbered_reports",
                  UhidDescription{"Numbered", "", 0, 14, panel_descriptor(3, 8, 7)}, u"Numbered", 4,
                  9},
        QueryCase{"utf8_name",
                  com_panel("",
                            "Pendra \xC3\x91"
                            "AV \xE2\x82\xAC"),
                  u"Pendra \u00D1AV \u20AC", 4, 9},
        QueryCase{"other_vendor",
                  UhidDescription{"Keypad", "", 0x1234, 0x5678, panel_descriptor(2, 0)}, u"Keypad",
                  3, 0}),
    [](const auto& info) { return info.param.name; });

TEST(VmRead, DeviceRemovedWhileAReadWaitsEndsTheReadAtOnce) {
  HidrawAccess hid;
  UhidDevice device(com_panel("usb-vm-1/input0"));
  std::vector<HidInterface> listed = wait_for_listing(hid, 1);
  ASSERT_EQ(listed.size(), 1u);
  HidHandle handle = hid.open(listed[0].path, HidOpenMode::read);
  ASSERT_NE(handle, kNoHidHandle);
  std::vector<uint8_t> report(4, 0xEE);

  // First a report, to show the read works and is framed with report ID 0.
  ASSERT_TRUE(hid.start_read(handle, report.data(), report.size()));
  ASSERT_TRUE(device.send_input({0xBF, 0xFF, 0xFE}));
  EXPECT_EQ(hid.wait_read(handle, 20'000), std::optional<std::size_t>(4));
  EXPECT_EQ(report, (std::vector<uint8_t>{0x00, 0xBF, 0xFF, 0xFE}));

  // Then a read that waits far longer than the test's limit: only the
  // device's removal can end it.
  ASSERT_TRUE(hid.start_read(handle, report.data(), report.size()));
  std::optional<std::size_t> result;
  std::thread reader([&] { result = hid.wait_read(handle, 120'000); });
  std::this_thread::sleep_for(100ms);  // let the reader reach its poll
  device.unplug();
  reader.join();
  EXPECT_EQ(result, std::optional<std::size_t>(0));
  // From now on no read starts, and the reason is that the device is gone.
  EXPECT_FALSE(hid.start_read(handle, report.data(), report.size()));
  EXPECT_EQ(hid.last_error(), static_cast<uint32_t>(ENODEV));
  hid.close(handle);
  EXPECT_EQ(hid.open_handles(), 0u);
}

TEST(VmWrite, OutputReportArrivesAtTheDeviceByteForByte) {
  HidrawAccess hid;
  UhidDevice device(com_panel("usb-vm-1/input0"));
  std::vector<HidInterface> listed = wait_for_listing(hid, 1);
  ASSERT_EQ(listed.size(), 1u);
  HidHandle handle = hid.open(listed[0].path, HidOpenMode::read_write);
  ASSERT_NE(handle, kNoHidHandle);
  const std::vector<uint8_t> frame{0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0x79};
  std::size_t written = 0;
  ASSERT_TRUE(hid.write(handle, frame.data(), frame.size(), written)) << hid.last_error();
  EXPECT_EQ(written, frame.size());
  EXPECT_EQ(device.next_output(20s), frame);
  // Unplugged: the write fails and says why.
  device.unplug();
  EXPECT_FALSE(hid.write(handle, frame.data(), frame.size(), written));
  EXPECT_EQ(hid.last_error(), static_cast<uint32_t>(ENODEV));
  hid.close(handle);
}

TEST(VmUsb, UsbDeviceGivesItsUsbProductStringAndANumberFromItsPort) {
  // qemu's USB keyboard: a real USB HID device. The kernel names it with the
  // maker in front ("QEMU QEMU USB Keyboard"); the product string the program
  // lists is the device's own, as Windows gives it.
  HidrawAccess hid;
  std::vector<HidrawNode> usb;
  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (usb.empty() && std::chrono::steady_clock::now() < deadline) {
    for (const HidrawNode& node : list_hidraw_nodes()) {
      if (!made_by_uhid(node.syspath)) usb.push_back(node);
    }
    if (usb.empty()) std::this_thread::sleep_for(20ms);
  }
  ASSERT_EQ(usb.size(), 1u) << "no USB keyboard in the VM";
  EXPECT_EQ(usb[0].port.rfind("usb-", 0), 0u) << usb[0].port;

  std::vector<HidInterface> listed = hid.list_interfaces();
  auto keyboard = std::find_if(listed.begin(), listed.end(),
                               [&](const HidInterface& i) { return i.identity == usb[0].syspath; });
  ASSERT_NE(keyboard, listed.end());
  // A fresh program gives a port the number the port asks for: the same on
  // every run.
  EXPECT_EQ(number_of(*keyboard), port_number_hint(usb[0].port));

  HidHandle handle = hid.open(keyboard->path, HidOpenMode::read_write);
  ASSERT_NE(handle, kNoHidHandle);
  HidAttributes attributes;
  ASSERT_TRUE(hid.get_attributes(handle, attributes));
  EXPECT_EQ(attributes.vendor_id, 0x0627);
  EXPECT_EQ(attributes.product_id, 0x0001);
  std::u16string name;
  ASSERT_TRUE(hid.get_product_string(handle, name));
  EXPECT_EQ(name, u"QEMU USB Keyboard");
  // A boot keyboard: 8 input bytes, 1 output byte (the lights), plus the
  // report-ID byte each.
  HidCaps caps;
  ASSERT_TRUE(hid.get_caps(handle, caps));
  EXPECT_EQ(caps.input_report_length, 9);
  EXPECT_EQ(caps.output_report_length, 2);
  hid.close(handle);
}

}  // namespace
}  // namespace tarvion::testing
