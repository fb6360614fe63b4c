// The real HID layer over the Linux backend and real hidraw devices: input
// through the read thread to the main thread, output reports at the device,
// hot-plug from the kernel's and the udev daemon's events, removal of a panel
// whose read thread waits, and a long unplug/replug run without leaks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <ostream>

#include "hid/hid_controller.h"
#include "radio/output_frames.h"
#include "udev_relay.h"
#include "vm_rig.h"

namespace tarvion::testing {
namespace {

struct Delivery {
  uint8_t report_id;
  std::vector<uint8_t> data;
  bool on_main_thread;
};

struct InputCase {
  // Failures name the case, not its bytes.
  friend void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }
  std::string name;
  UhidDescription device;
  std::vector<uint8_t> sent;  // as the device sends it
  uint8_t report_id;          // as the data handler sees it
  std::vector<uint8_t> data;
};

class VmInput : public ::testing::TestWithParam<InputCase> {};

TEST_P(VmInput, ReportReachesTheDataHandlerOnTheMainThreadFramedAsOnWindows) {
  const InputCase& c = GetParam();
  VirtualMainThread main_thread;
  HidrawAccess hid;
  UdevNotifier notifier(main_thread);
  UhidDevice device(c.device);
  ASSERT_EQ(wait_for_listing(hid, 1).size(), 1u);

  std::vector<Delivery> seen;
  {
    THidDeviceController controller(hid, notifier, main_thread);
    static const char data_code = 0, change_code = 0;
    controller.SetOnDeviceData(THidDataEvent(&data_code, [&](THidDevice& from, uint8_t id,
                                                             const uint8_t* data, uint16_t size) {
      if (!made_by_uhid(from.PnPInfo().DeviceInstance)) return;  // the keyboard
      seen.push_back({id, std::vector<uint8_t>(data, data + size), main_thread.is_main_thread()});
    }));
    controller.SetOnDeviceChange(TNotifyEvent(&change_code, [](THidDeviceController&) {}));
    // The keyboard may come first: claim until the test's device is lent.
    THidDevice* claimed = nullptr;
    while (controller.ClaimFirst(claimed) && !made_by_uhid(claimed->PnPInfo().DeviceInstance)) {
    }
    ASSERT_NE(claimed, nullptr);
    ASSERT_TRUE(claimed->Reading()) << "no read thread";

    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (seen.empty() && std::chrono::steady_clock::now() < deadline) {
      ASSERT_TRUE(device.send_input(c.sent));
      pump_until_or_timeout(
          main_thread, [&] { return !seen.empty(); }, 100ms);
    }
    controller.Release(claimed);
  }
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0].report_id, c.report_id);
  EXPECT_EQ(seen[0].data, c.data);
  EXPECT_TRUE(seen[0].on_main_thread);
}

INSTANTIATE_TEST_SUITE_P(Framing, VmInput,
                         ::testing::Values(InputCase{"unnumbered",
                                                     com_panel("usb-vm-1/input0"),
                                                     {0xBF, 0xFF, 0xFE},
                                                     0x00,
                                                     {0xBF, 0xFF, 0xFE}},
                                           InputCase{"numbered",
                                                     UhidDescription{"Numbered", "", 0, 14,
                                                                     panel_descriptor(3, 8, 7)},
                                                     {0x07, 0x12, 0x34, 0x56},
                                                     0x07,
                                                     {0x12, 0x34, 0x56}}),
                         [](const auto& info) { return info.param.name; });

TEST(VmPanels, KnobInputIsDecodedAndDisplaysGoOutByteForByte) {
  PanelRig rig;
  UhidDevice com(com_panel("usb-vm-1/input0"));
  UhidDevice sw(switch_panel("usb-vm-2/input0"));
  ASSERT_EQ(wait_for_listing(rig.hid, 2).size(), 2u);
  rig.start();
  ASSERT_TRUE(rig.pump_until([&] { return rig.radio() && rig.switches(); }));

  // A switch panel just found gets one all-zero report.
  EXPECT_EQ(sw.next_output(20s), std::vector<uint8_t>(9, 0x00));
  // The COM panel's blank display goes out at the next cycle, as composed.
  ASSERT_TRUE(rig.radio()->display_changed);
  OutputFrame expected = display_report(*rig.radio());
  rig.layer.send_pending_reports();
  EXPECT_EQ(com.next_output(20s), std::vector<uint8_t>(expected.begin(), expected.end()));

  // The transfer button (byte 0 bit 6, active low) reaches the panel object.
  ASSERT_TRUE(rig.send_until(com, {0xBF, 0xFF, 0xFF}, [&] { return rig.radio()->input == 0x1; }));
}

struct HotPlugCase {
  // Failures name the case, not its bytes.
  friend void PrintTo(const HotPlugCase& c, std::ostream* os) { *os << c.name; }
  std::string name;
  bool udev_daemon;  // a daemon runs (played by a relay of the kernel's events)
  std::string source;
};

class VmHotPlug : public ::testing::TestWithParam<HotPlugCase> {
 protected:
  void SetUp() override {
    if (GetParam().udev_daemon) {
      relay_ = std::make_unique<UdevRelay>();
      ASSERT_TRUE(relay_->running());
      mkdir("/run/udev", 0755);
      std::ofstream(kUdevControlPath) << "";
    }
  }
  void TearDown() override {
    std::remove(kUdevControlPath);
    relay_.reset();
  }
  std::unique_ptr<UdevRelay> relay_;
};

TEST_P(VmHotPlug, PanelPluggedInIsFoundAndPanelPulledIsReleased) {
  std::size_t fds_before = open_fds();
  {
    PanelRig rig;
    ASSERT_EQ(rig.notifier.source(), GetParam().source);
    rig.start();
    std::size_t threads_idle = settled_threads();
    EXPECT_TRUE(rig.lines.empty());

    UhidDevice com(com_panel("usb-vm-3/input0"));
    ASSERT_TRUE(rig.pump_until([&] { return rig.lines.size() == 1; })) << "not found";
    EXPECT_EQ(rig.lines[0].rfind("Pendra COM Panel - Device = ", 0), 0u) << rig.lines[0];
    ASSERT_TRUE(rig.send_until(com, {0xBF, 0xFF, 0xFF}, [&] { return rig.radio()->input == 1; }));
    EXPECT_EQ(threads(), threads_idle + 1) << "one read thread per panel";

    // Pulled while its read thread waits for the next report.
    com.unplug();
    ASSERT_TRUE(rig.pump_until([&] {
      return rig.lines.empty() && rig.lists.radios.empty() && rig.test_devices_gone();
    })) << "not released";
    EXPECT_EQ(threads_settled_at(threads_idle), threads_idle) << "read thread left behind";
    EXPECT_EQ(rig.hid.open_handles(), 0u);
    if (relay_) {
      EXPECT_GT(relay_->relayed(), 0);
    }
  }
  EXPECT_EQ(open_fds(), fds_before);
}

INSTANTIATE_TEST_SUITE_P(Sources, VmHotPlug,
                         ::testing::Values(HotPlugCase{"kernel_events", false, "kernel"},
                                           HotPlugCase{"udev_daemon_events", true, "udev"}),
                         [](const auto& info) { return info.param.name; });

TEST(VmReplug, HundredUnplugReplugCyclesLeakNoDescriptorOrThread) {
  PanelRig rig;
  rig.start();
  // Settle: the controller's own notification has come through.
  ASSERT_TRUE(rig.pump_until([&] { return rig.lines.empty(); }));
  std::size_t fds_idle = open_fds();
  std::size_t threads_idle = settled_threads();
  std::string first_line;

  for (int cycle = 0; cycle < 100; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    UhidDevice com(com_panel("usb-vm-4/input0"));
    ASSERT_TRUE(rig.pump_until([&] { return rig.lines.size() == 1; }));
    // The same port, the same device number, every time.
    if (cycle == 0) first_line = rig.lines[0];
    EXPECT_EQ(rig.lines[0], first_line);
    if (cycle % 10 == 0) {
      // Each plug-in is a fresh panel object: input reaches it again.
      ASSERT_TRUE(rig.send_until(com, {0xBF, 0xFF, 0xFF},
                                 [&] { return rig.radio() && rig.radio()->input == 1; }));
    }
    com.unplug();
    ASSERT_TRUE(rig.pump_until([&] { return rig.lines.empty() && rig.test_devices_gone(); }));
  }
  EXPECT_EQ(open_fds(), fds_idle);
  EXPECT_EQ(threads_settled_at(threads_idle), threads_idle);
  EXPECT_EQ(rig.hid.open_handles(), 0u);
}

}  // namespace
}  // namespace tarvion::testing
