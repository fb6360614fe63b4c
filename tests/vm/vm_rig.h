// What the tests inside the VM share: Pendra-like uhid devices, waiting for
// the kernel with generous limits, and the program's panel layer over the
// real Linux backend.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "hid/panel_layer.h"
#include "panel_descriptors.h"
#include "platform/linux/hidraw_access.h"
#include "platform/linux/udev_notifier.h"
#include "platform/virtual/virtual_main_thread.h"
#include "pump.h"
#include "uhid_device.h"

namespace tarvion::testing {

using namespace std::chrono_literals;

inline constexpr uint16_t kComKind = 13;
inline constexpr uint16_t kSwitchKind = 12;

// A COM panel: 3 input bytes, 8 output bytes, unnumbered reports.
inline UhidDescription com_panel(const std::string& phys,
                                 const std::string& name = "Pendra COM Panel") {
  return UhidDescription{name, phys, 0, kComKind, panel_descriptor(3, 8)};
}
// A switch panel: 5 input bytes, 8 output bytes.
inline UhidDescription switch_panel(const std::string& phys) {
  return UhidDescription{"Pendra Switch Panel", phys, 0, kSwitchKind, panel_descriptor(5, 8)};
}

inline std::size_t entries_in(const char* folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}
inline std::size_t open_fds() {
  return entries_in("/proc/self/fd");
}
inline std::size_t threads() {
  return entries_in("/proc/self/task");
}
// The thread count once it has stayed the same for 50 ms: threads ended just
// before (by earlier tests) are then gone from the list.
inline std::size_t settled_threads() {
  auto deadline = std::chrono::steady_clock::now() + 5s;
  std::size_t count = threads();
  auto since = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - since < 50ms &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
    std::size_t now = threads();
    if (now != count) since = std::chrono::steady_clock::now();
    count = now;
  }
  return count;
}
// The thread count once it has come down to expected (or the limit passed):
// a joined thread may still be listed for a moment while the kernel reaps it.
inline std::size_t threads_settled_at(std::size_t expected) {
  auto deadline = std::chrono::steady_clock::now() + 5s;
  std::size_t count = threads();
  while (count > expected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
    count = threads();
  }
  return count;
}

// Devices the tests make themselves (the VM also has a USB keyboard).
inline bool made_by_uhid(const std::string& identity) {
  return identity.find("/uhid/") != std::string::npos;
}

// The uhid devices listed, once there are count of them: uhid adds its device
// on a kernel worker, shortly after the device was asked for.
inline std::vector<HidInterface> wait_for_listing(HidrawAccess& hid, std::size_t count) {
  auto uhid_listed = [&hid] {
    std::vector<HidInterface> listed = hid.list_interfaces();
    std::erase_if(listed, [](const HidInterface& i) { return !made_by_uhid(i.identity); });
    return listed;
  };
  auto deadline = std::chrono::steady_clock::now() + 20s;
  std::vector<HidInterface> listed = uhid_listed();
  while (listed.size() != count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
    listed = uhid_listed();
  }
  return listed;
}

// The panel layer as the program builds it, over the Linux backend.
struct PanelRig {
  explicit PanelRig(UdevSource source = UdevSource::automatic) : notifier(main_thread, source) {}

  VirtualMainThread main_thread;
  HidrawAccess hid;
  UdevNotifier notifier;
  Config config;
  RadioState state;
  PanelLists lists;
  ProgramFlags flags;
  std::vector<std::string> lines;  // ListBox1 as last rebuilt
  PanelLayer layer{
      hid,         notifier,
      main_thread, RadioContext{state, lists, config},
      flags,       PanelLayerHooks{[this](const std::vector<std::string>& l) { lines = l; }}};

  // Start-up as the program does it, then the controller's own notification.
  void start() {
    layer.panel_layer_start();
    layer.discover_panels();
  }
  bool pump_until(const std::function<bool()>& done) {
    return pump_until_or_timeout(main_thread, done);
  }
  // The controller holds no device made by the tests (the keyboard stays).
  bool test_devices_gone() {
    for (const auto& device : layer.controller().devices()) {
      if (made_by_uhid(device->PnPInfo().DeviceInstance)) return false;
    }
    return true;
  }
  c_rad* radio() { return lists.radios.empty() ? nullptr : lists.radios.front().get(); }
  c_efis* switches() { return lists.switches.empty() ? nullptr : lists.switches.front().get(); }
  // Sends the report again every 100 ms until done: a report sent before the
  // read thread has opened the device reaches nobody.
  bool send_until(UhidDevice& device, const std::vector<uint8_t>& report,
                  const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!device.send_input(report)) return false;
      if (pump_until_or_timeout(main_thread, done, 100ms)) return true;
    }
    return false;
  }
  ~PanelRig() { layer.panel_layer_stop(); }
};

}  // namespace tarvion::testing
