// The panels of both Linux programs: the virtual panel host when
// TARVION_VIRTUAL_PANELS names one, else the kernel's hidraw devices.
#pragma once

// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include <functional>
#include <memory>
#include <string>

#include "platform/posix/virtual_panel_connection.h"
#include "platform/virtual/null_seams.h"

#ifdef TARVION_HAVE_HIDRAW
#include "platform/linux/hidraw_access.h"
#include "platform/linux/udev_notifier.h"
#endif

namespace tarvion {

class LinuxPanels {
 public:
  // error: why the virtual panels that were asked for cannot be had (the
  // program must not run on without panels then: it would look like a fault
  // of the panels). give_up ends a connect that waits (a close request).
  LinuxPanels(MainThread& main_thread, std::string& error, const std::function<bool()>& give_up)
      : virtual_(virtual_panels_from_environment(main_thread, error, give_up)) {
    if (virtual_ || !error.empty()) return;
#ifdef TARVION_HAVE_HIDRAW
    own_hid_ = std::make_unique<HidrawAccess>();
    own_notifier_ = std::make_unique<UdevNotifier>(main_thread);
#else
    own_hid_ = std::make_unique<NullHidAccess>();
    own_notifier_ = std::make_unique<NullDeviceNotifier>();
#endif
  }
  bool ready() const {
    return virtual_ || own_hid_;
  }
  HidAccess& hid() {
    return virtual_ ? virtual_->hid() : *own_hid_;
  }
  DeviceNotifier& notifier() {
    return virtual_ ? virtual_->notifier() : *own_notifier_;
  }

 private:
  std::unique_ptr<VirtualPanelConnection> virtual_;
  std::unique_ptr<HidAccess> own_hid_;
  std::unique_ptr<DeviceNotifier> own_notifier_;
};

}  // namespace tarvion
