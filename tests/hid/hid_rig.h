// Shared test rig of the HID tests: the test thread as main thread, virtual
// HID devices with their notifier, and a bounded pump for real read threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/virtual/virtual_device_notifier.h"
#include "platform/virtual/virtual_hid.h"
#include "platform/virtual/virtual_main_thread.h"

namespace tarvion::testing {

struct HidRig {
  VirtualMainThread main_thread;
  VirtualDeviceNotifier notifier;
  VirtualHid hid{&notifier};

  // Runs queued calls until cond holds; false when it did not within the
  // bound (a generous one: real threads on a loaded machine).
  bool pump_until(const std::function<bool()>& cond,
                  std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    main_thread.pump_until([&] { return cond() || std::chrono::steady_clock::now() > deadline; });
    return cond();
  }
};

inline VirtualHidTraits panel_traits(uint16_t kind, const std::string& driver_key,
                                     const std::u16string& name = u"PANEL") {
  VirtualHidTraits traits;
  traits.vendor_id = 0;
  traits.product_id = kind;
  traits.product_string = name;
  traits.driver_key = driver_key;
  traits.input_report_length = kind == 12 ? 6 : 3;
  traits.output_report_length = 9;
  return traits;
}

}  // namespace tarvion::testing
