// THidDeviceController: the list of HID devices present, kept in line with
// the system on every device-change notification, and the lending of devices
// to the program (claiming).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/main_thread.h"
#include "hid/device_notifier.h"
#include "hid/hid_access.h"
#include "hid/hid_device.h"

namespace tarvion {

class THidDeviceController;

// A device present that the system would not let the program open: known only
// by what the listing says of it.
struct HidDeniedDevice {
  HidInterface listed;
  HidOpenError reason = HidOpenError::other;  // no_permission or held_elsewhere
};

using TNotifyEvent = HidHandler<void(THidDeviceController& Sender)>;

// The parameter of the notification the controller posts to itself at
// construction: the DeviceChange it starts always reports a change.
inline constexpr int32_t kConstructionChangeParam = -1;

// Main thread only, every operation and every event.
class THidDeviceController {
 public:
  // Lists nothing yet; posts itself one notification when HID services exist.
  THidDeviceController(HidAccess& hid, DeviceNotifier& notifier, MainThread& main_thread);
  virtual ~THidDeviceController();

  THidDeviceController(const THidDeviceController&) = delete;
  THidDeviceController& operator=(const THidDeviceController&) = delete;

  // Brings the list in line with the devices present now and fires the events.
  void DeviceChange();
  // Lends the first unclaimed device; false when there is none.
  bool ClaimFirst(THidDevice*& device);
  // Takes a lent device back (destroying it when it is gone) and clears the reference.
  void Release(THidDevice*& device);
  // Runs OnEnumerate over the plugged-in devices; returns how many it visited.
  int EnumerateDevices();

  int DevThreadSleepTime() const { return dev_thread_sleep_time_; }
  void SetDevThreadSleepTime(int milliseconds);
  std::string Version() const { return "1.0.34"; }

  void SetOnArrival(THidPlugEvent handler) { on_arrival_ = std::move(handler); }
  void SetOnRemoval(THidPlugEvent handler) { on_removal_ = std::move(handler); }
  void SetOnEnumerate(THidEnumerateEvent handler) { on_enumerate_ = std::move(handler); }
  // A different handler runs DeviceChange at once.
  void SetOnDeviceChange(TNotifyEvent handler);
  // A different handler also goes to every device that carries the old one.
  void SetOnDeviceData(THidDataEvent handler);
  void SetOnDeviceDataError(THidDataErrorEvent handler);
  void SetOnDeviceUnplug(THidPlugEvent handler);

  // How devices listed from now on start their read threads (tests make it fail).
  void SetThreadLauncher(ThreadLauncher launcher) { launcher_ = std::move(launcher); }

  // In the order devices were first seen.
  const std::vector<std::unique_ptr<THidDevice>>& devices() const { return devices_; }
  // The devices left out of the list at the last DeviceChange because the
  // system refused to open them, in the system's order. A change here is a
  // change of the list: OnDeviceChange fires.
  const std::vector<HidDeniedDevice>& denied_devices() const { return denied_; }

 protected:
  // Drops every controller handler and stops notifications, with no
  // DeviceChange: for a subclass whose handlers die before this base.
  void detach_handlers();

 private:
  void on_notification(int32_t change_param);
  void run_deferred_change();
  // Runs body with the controller busy; a notification held back meanwhile
  // runs after it, outside any destructor, so its errors reach the caller.
  template <typename Body>
  auto while_busy(Body&& body);
  void reconcile();  // DeviceChange's work
  int enumerate();   // EnumerateDevices' work
  std::vector<std::unique_ptr<THidDevice>> list_present(std::vector<HidDeniedDevice>& denied);
  int index_of(uint64_t serial) const;
  void destroy(uint64_t serial);

  HidAccess& hid_;
  DeviceNotifier& notifier_;
  MainThread& main_thread_;
  std::vector<std::unique_ptr<THidDevice>> devices_;
  std::vector<HidDeniedDevice> denied_;

  int32_t last_change_param_ = 0;
  // A notification that came while the list was being walked or a device was
  // being taken back runs once that is over (see on_notification).
  int busy_ = 0;
  bool change_deferred_ = false;
  int32_t deferred_param_ = 0;

  int dev_thread_sleep_time_ = 100;
  ThreadLauncher launcher_;
  THidPlugEvent on_arrival_;
  THidPlugEvent on_removal_;
  THidEnumerateEvent on_enumerate_;
  TNotifyEvent on_device_change_;
  THidDataEvent on_device_data_;
  THidDataErrorEvent on_device_data_error_;
  THidPlugEvent on_device_unplug_;
};

}  // namespace tarvion
