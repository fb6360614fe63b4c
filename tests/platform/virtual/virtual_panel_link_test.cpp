// The virtual panel link's protocol: what the host's lines do to the devices
// and notifications, what is refused, and what goes back to the host.
#include "platform/virtual/virtual_panel_link.h"

#include <gtest/gtest.h>

#include "platform/virtual/virtual_hid.h"

namespace tarvion {
namespace {

TEST(PanelHostEndpoint, AcceptsOnlyLoopbackHosts) {
  struct Case {
    const char* text;
    const char* host;  // null: refused
    uint16_t port;
  };
  const Case cases[] = {
      {"127.0.0.1:7650", "127.0.0.1", 7650},
      {"127.1.2.3:1", "127.1.2.3", 1},
      {"localhost:7650", "127.0.0.1", 7650},
      {"[::1]:7651", "::1", 7651},
      {"::1:7651", "::1", 7651},
      {"192.168.1.10:7650", nullptr, 0},
      {"10.0.0.1:7650", nullptr, 0},
      {"0.0.0.0:7650", nullptr, 0},
      {"example.com:7650", nullptr, 0},
      {"127.0.0.1.evil.com:7650", nullptr, 0},
      {"127.0.0:7650", nullptr, 0},
      {"127.0.0.256:7650", nullptr, 0},
      {"[::2]:7650", nullptr, 0},
      {"127.0.0.1", nullptr, 0},
      {"127.0.0.1:0", nullptr, 0},
      {"127.0.0.1:65536", nullptr, 0},
      {"127.0.0.1:76x0", nullptr, 0},
      {":7650", nullptr, 0},
  };
  for (const Case& c : cases) {
    std::string reason;
    auto endpoint = parse_panel_host_endpoint(c.text, reason);
    if (c.host == nullptr) {
      EXPECT_FALSE(endpoint) << c.text;
      EXPECT_FALSE(reason.empty()) << c.text;
    } else {
      ASSERT_TRUE(endpoint) << c.text << ": " << reason;
      EXPECT_EQ(endpoint->host, c.host);
      EXPECT_EQ(endpoint->port, c.port);
    }
  }
}

TEST(Hex, RoundTripsAndRefusesBrokenText) {
  EXPECT_EQ(to_hex({0x00, 0xAB, 0x7F}), "00ab7f");
  EXPECT_EQ(from_hex("00aB7f"), (std::vector<uint8_t>{0x00, 0xAB, 0x7F}));
  EXPECT_FALSE(from_hex("0"));
  EXPECT_FALSE(from_hex("0g"));
  EXPECT_EQ(from_hex(""), std::vector<uint8_t>{});
}

class VirtualPanelLinkTest : public ::testing::Test {
 protected:
  std::vector<std::string> sent;
  VirtualPanelLink link{[this](const std::string& line) { sent.push_back(line); }};

  std::vector<HidInterface> present() { return link.hid().list_interfaces(); }
};

TEST_F(VirtualPanelLinkTest, AddMakesADeviceWithEverythingItSaid) {
  link.receive_line("ADD c1 0000 000d 3 9 {4d36e96f}\\0012 COM PANEL \xc3\xa9");
  EXPECT_EQ(link.malformed_lines(), 0u);
  EXPECT_EQ(link.notifier().pending(), 1u);
  auto interfaces = present();
  ASSERT_EQ(interfaces.size(), 1u);
  EXPECT_EQ(interfaces[0].driver_key, "{4d36e96f}\\0012");
  HidAccess& hid = link.hid();
  HidHandle h = hid.open(interfaces[0].path, HidOpenMode::read_write);
  HidAttributes attributes;
  ASSERT_TRUE(hid.get_attributes(h, attributes));
  EXPECT_EQ(attributes.vendor_id, 0);
  EXPECT_EQ(attributes.product_id, 13);
  HidCaps caps;
  ASSERT_TRUE(hid.get_caps(h, caps));
  EXPECT_EQ(caps.input_report_length, 3);
  EXPECT_EQ(caps.output_report_length, 9);
  std::u16string name;
  ASSERT_TRUE(hid.get_product_string(h, name));
  EXPECT_EQ(name, u"COM PANEL \u00e9");
  hid.close(h);
}

TEST_F(VirtualPanelLinkTest, InputReachesAReadAndOutputGoesBackToTheHost) {
  link.receive_line("ADD c1 0000 000d 3 9 0012 COM");
  HidAccess& hid = link.hid();
  std::string path = present().at(0).path;
  HidHandle reader = hid.open(path, HidOpenMode::read);
  uint8_t buffer[3] = {};
  ASSERT_TRUE(hid.start_read(reader, buffer, sizeof buffer));
  link.receive_line("INPUT c1 00feff");
  EXPECT_EQ(hid.wait_read(reader, 0), std::optional<std::size_t>(3));
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 3), (std::vector<uint8_t>{0x00, 0xFE, 0xFF}));

  HidHandle writer = hid.open(path, HidOpenMode::read_write);
  const uint8_t report[9] = {0, 0, 0x80, 0x11, 0, 0x80, 0x11, 0x88, 0x79};
  std::size_t written = 0;
  ASSERT_TRUE(hid.write(writer, report, sizeof report, written));
  EXPECT_EQ(sent, std::vector<std::string>{"OUTPUT c1 000080110080118879"});
  hid.close(reader);
  hid.close(writer);
}

TEST_F(VirtualPanelLinkTest, RemoveAndLostConnectionUnplug) {
  link.receive_line("ADD a 0000 000d 3 9 0001 A");
  link.receive_line("ADD b 0000 000e 3 9 0002 B");
  link.receive_line("ADD c 0000 000f 3 9 0003 C");
  link.receive_line("REMOVE b");
  EXPECT_EQ(link.device_count(), 2u);
  EXPECT_EQ(present().size(), 2u);
  EXPECT_EQ(link.notifier().pending(), 4u);
  link.connection_lost();
  EXPECT_EQ(link.device_count(), 0u);
  EXPECT_TRUE(present().empty());
  EXPECT_EQ(link.notifier().pending(), 6u);
  // The same id may come back after a REMOVE, as a new device.
  link.receive_line("ADD a 0000 000d 3 9 0001 A");
  EXPECT_EQ(link.device_count(), 1u);
  EXPECT_EQ(link.malformed_lines(), 0u);
}

TEST_F(VirtualPanelLinkTest, MalformedLinesAreCountedAndChangeNothing) {
  link.receive_line("ADD c1 0000 000d 3 9 0012 COM");
  const char* malformed[] = {
      "",
      "HELLO",
      "add c1 0000 000d 3 9 0012 COM",
      "ADD c1 0000 000d 3 9 0012 again",  // id taken
      "ADD c2 000 000d 3 9 0012 COM",     // vendor not four digits
      "ADD c2 0000 00zz 3 9 0012 COM",
      "ADD c2 0000 000d x 9 0012 COM",
      "ADD c2 0000 000d 3 99999 0012 COM",  // longer than any report
      "ADD c2 0000 000d 3 9",               // no driver key
      "ADD c2/x 0000 000d 3 9 0012 COM",    // id with a stray character
      "INPUT c1",
      "INPUT c1 0",
      "INPUT c1 00fe ff",
      "INPUT c1 00feffff",  // longer than the device's input report
      "INPUT zz 00feff",
      "REMOVE zz",
      "REMOVE c1 extra",
  };
  for (const char* line : malformed) link.receive_line(line);
  EXPECT_EQ(link.malformed_lines(), std::size(malformed));
  EXPECT_EQ(link.device_count(), 1u);
  EXPECT_EQ(present().size(), 1u);
}

TEST_F(VirtualPanelLinkTest, BytesAreSplitIntoLinesWhateverTheChunks) {
  link.receive_bytes("ADD c1 0000 000d 3 9 00");
  EXPECT_EQ(link.device_count(), 0u);
  link.receive_bytes("12 COM\r\nADD c2 0000 000e 3 9 0013 NAV\nREM");
  EXPECT_EQ(link.device_count(), 2u);
  link.receive_bytes("OVE c1\n");
  EXPECT_EQ(link.device_count(), 1u);
  EXPECT_EQ(present().at(0).driver_key, "0013");
  EXPECT_EQ(link.malformed_lines(), 0u);
}

TEST_F(VirtualPanelLinkTest, OverlongLineIsDroppedWholeAndCounted) {
  std::string flood = "ADD c1 0000 000d 3 9 0012 " + std::string(kPanelLinkMaxLine, 'x');
  link.receive_bytes(flood.substr(0, 1000));
  link.receive_bytes(flood.substr(1000));
  link.receive_bytes("\nADD c2 0000 000e 3 9 0013 NAV\n");
  EXPECT_EQ(link.malformed_lines(), 1u);
  EXPECT_EQ(link.device_count(), 1u);
}

TEST_F(VirtualPanelLinkTest, ReportsPastAFullQueueDropTheOldestAndAreCounted) {
  link.receive_line("ADD c1 0000 000d 3 9 0012 COM");
  link.receive_line("ADD c2 0000 000e 3 9 0013 NAV");
  // Unread, c1 gets 6 reports more than its queue holds, whole lines in one
  // chunk as the host sends them under load; c2 gets one.
  std::string burst;
  for (unsigned n = 0; n < kVirtualInputQueue + 6; ++n) {
    uint8_t report[3] = {0, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    burst += "INPUT c1 " + to_hex(std::vector<uint8_t>(report, report + 3)) + "\n";
  }
  link.receive_bytes(burst + "INPUT c2 00aabb\n");
  EXPECT_EQ(link.malformed_lines(), 0u);
  EXPECT_EQ(link.dropped_inputs(), 6u);

  HidAccess& hid = link.hid();
  for (const HidInterface& device : present()) {
    HidHandle reader = hid.open(device.path, HidOpenMode::read);
    std::vector<std::vector<uint8_t>> read;
    uint8_t buffer[3] = {};
    while (hid.start_read(reader, buffer, sizeof buffer) && hid.wait_read(reader, 0)) {
      read.emplace_back(buffer, buffer + 3);
    }
    hid.close(reader);
    if (device.driver_key == "0013") {
      EXPECT_EQ(read, (std::vector<std::vector<uint8_t>>{{0x00, 0xAA, 0xBB}}));
      continue;
    }
    // The newest kVirtualInputQueue, in order: 6 to 69.
    ASSERT_EQ(read.size(), kVirtualInputQueue);
    for (unsigned k = 0; k < read.size(); ++k) EXPECT_EQ(read[k][2], k + 6) << k;
  }
}

TEST(PanelOutputBacklog, SlowHostLosesOnlyStaleLinesOfTheDeviceThatFellBehind) {
  PanelOutputBacklog backlog;
  auto push = [&](const std::string& device, int n) {
    backlog.push(device, device + std::to_string(n) + "\n");
  };
  for (int n = 1; n <= 10; ++n) push("a", n);
  push("b", 1);
  EXPECT_EQ(backlog.waiting_lines(), kPanelBacklogPerDevice + 1);
  EXPECT_EQ(backlog.next(), "a3\n");  // a1, a2 gave way
  backlog.consume(1);                 // a line once begun is sent whole
  push("a", 11);
  push("a", 12);  // a4 gives way, not the started a3 nor b1
  std::string wire;
  while (!backlog.empty()) {
    std::string_view bytes = backlog.next();
    wire += bytes.substr(0, 2);  // two bytes at a time, as a full socket takes them
    backlog.consume(std::min<std::size_t>(2, bytes.size()));
  }
  EXPECT_EQ(wire, "3\na5\na6\na7\na8\na9\na10\nb1\na11\na12\n");
  EXPECT_EQ(backlog.dropped(), 3u);
  EXPECT_EQ(panel_line_device("OUTPUT c1 00aa"), "c1");
}

TEST(VirtualHidRecord, ALongRunKeepsOnlyTheNewestOutputReports) {
  VirtualHid hid;
  VirtualHidTraits traits;
  traits.driver_key = "0012";
  int id = hid.plug(traits);
  HidHandle h = hid.open(hid.list_interfaces().at(0).path, HidOpenMode::read_write);
  for (unsigned n = 0; n < 3 * kVirtualOutputRecord; ++n) {
    uint8_t report[3] = {0, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    std::size_t written = 0;
    ASSERT_TRUE(hid.write(h, report, sizeof report, written));
  }
  auto outputs = hid.outputs(id);
  ASSERT_EQ(outputs.size(), kVirtualOutputRecord);
  unsigned last = 3 * kVirtualOutputRecord - 1;
  EXPECT_EQ(outputs.back(),
            (std::vector<uint8_t>{0, static_cast<uint8_t>(last >> 8), static_cast<uint8_t>(last)}));
  hid.close(h);
}

}  // namespace
}  // namespace tarvion
