#include "hid/hid_controller.h"

#include <algorithm>
#include <type_traits>

#include "base/call_queue.h"

namespace tarvion {
template <typename Body>
auto THidDeviceController::while_busy(Body&& body) {
  // The walk or release may pump queued calls, which can let a notification
  // in (see on_notification). The held-back change runs here, after the
  // outermost busy operation and not in a destructor: an error from its
  // handlers (a thread that cannot be created, say) reaches the message loop
  // instead of ending the process. An error in body leaves it held back for
  // the next operation or notification.
  struct Leave {
    int& busy;
    ~Leave() { --busy; }
  };
  ++busy_;
  if constexpr (std::is_void_v<decltype(body())>) {
    {
      Leave leave{busy_};
      body();
    }
    if (busy_ == 0) run_deferred_change();
  } else {
    auto result = [&] {
      Leave leave{busy_};
      return body();
    }();
    if (busy_ == 0) run_deferred_change();
    return result;
  }
}

THidDeviceController::THidDeviceController(HidAccess& hid, DeviceNotifier& notifier,
                                           MainThread& main_thread)
    : hid_(hid), notifier_(notifier), main_thread_(main_thread) {
  if (hid_.bound()) {
    notifier_.set_handler([this](int32_t change_param) { on_notification(change_param); });
    notifier_.post(kConstructionChangeParam);
  }
}

void THidDeviceController::detach_handlers() {
  notifier_.set_handler({});
  on_arrival_ = {};
  on_removal_ = {};
  on_enumerate_ = {};
  on_device_change_ = {};
  on_device_data_ = {};
  on_device_data_error_ = {};
  on_device_unplug_ = {};
}

THidDeviceController::~THidDeviceController() {
  detach_handlers();
  // A claimed device goes with its controller: it is unplugged quietly (its
  // borrower is being torn down too) and destroyed, stopping its thread.
  std::vector<std::unique_ptr<THidDevice>> devices = std::move(devices_);
  devices_.clear();
  for (auto& device : devices) {
    if (device->Claimed()) {
      device->SetOnUnplug({});
      device->unplug();
    }
    device.reset();
  }
}

void THidDeviceController::on_notification(int32_t change_param) {
  if (busy_ > 0) {
    // A DeviceChange now would change the list under the walk or the release
    // that let this notification in (the main thread pumps while it waits for
    // a read thread). Run it once that is over; a construction notification
    // among those held back keeps its meaning.
    if (!change_deferred_ || deferred_param_ != kConstructionChangeParam) {
      deferred_param_ = change_param;
    }
    change_deferred_ = true;
    return;
  }
  last_change_param_ = change_param;
  DeviceChange();
}

void THidDeviceController::run_deferred_change() {
  if (!change_deferred_) return;
  change_deferred_ = false;
  int32_t change_param = deferred_param_;
  deferred_param_ = 0;
  on_notification(change_param);
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::list_present(
    std::vector<HidDeniedDevice>& denied) {
  std::vector<std::unique_ptr<THidDevice>> fresh;
  if (!hid_.bound()) return fresh;
  for (HidInterface& present : hid_.list_interfaces()) {
    try {
      fresh.push_back(std::make_unique<THidDevice>(
          hid_, main_thread_, THidPnPInfo{present.identity, present.path, present.driver_key},
          on_device_data_, on_device_unplug_));
      fresh.back()->SetThreadSleepTime(dev_thread_sleep_time_);
      fresh.back()->set_thread_launcher(launcher_);
    } catch (const EControllerError& error) {
      // Left out for now; it is tried again at the next change. A refusal is
      // kept, so that the user can be told what would let the program in.
      if (error.open_error() != HidOpenError::other) {
        denied.push_back(HidDeniedDevice{std::move(present), error.open_error()});
      }
    }
  }
  return fresh;
}

int THidDeviceController::index_of(uint64_t serial) const {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i]->serial() == serial) return static_cast<int>(i);
  }
  return -1;
}

void THidDeviceController::destroy(uint64_t serial) {
  int index = index_of(serial);
  if (index < 0) return;
  // Out of the list before the destructor runs, which may pump queued calls.
  std::unique_ptr<THidDevice> device = std::move(devices_[static_cast<std::size_t>(index)]);
  devices_.erase(devices_.begin() + index);
  device.reset();
}

void THidDeviceController::DeviceChange() {
  assert_main_thread(main_thread_);
  while_busy([this] { reconcile(); });
}

void THidDeviceController::reconcile() {
  bool changed = last_change_param_ == kConstructionChangeParam;
  std::vector<HidDeniedDevice> denied;
  std::vector<std::unique_ptr<THidDevice>> fresh = list_present(denied);
  if (!std::equal(denied.begin(), denied.end(), denied_.begin(), denied_.end(),
                  [](const HidDeniedDevice& a, const HidDeniedDevice& b) {
                    return a.listed.identity == b.listed.identity && a.reason == b.reason;
                  })) {
    changed = true;
  }
  denied_ = std::move(denied);
  auto in_fresh = [&fresh](const THidDevice& device) {
    return std::any_of(fresh.begin(), fresh.end(), [&device](const auto& f) {
      return f->PnPInfo().DeviceInstance == device.PnPInfo().DeviceInstance;
    });
  };

  // Removals, last to first. Handlers may take devices out of the list, so
  // the index is kept within its current length.
  for (int i = static_cast<int>(devices_.size()) - 1; i >= 0; --i) {
    if (i >= static_cast<int>(devices_.size())) continue;
    THidDevice* device = devices_[static_cast<std::size_t>(i)].get();
    if (device->PluggedIn() && in_fresh(*device)) continue;
    uint64_t serial = device->serial();
    device->unplug();
    if (index_of(serial) >= 0) {
      device->set_enumerating(true);
      if (on_removal_) on_removal_(*device);
      if (index_of(serial) >= 0) {
        device->set_enumerating(false);
        if (!device->Claimed()) destroy(serial);
      }
    }
    changed = true;
  }

  // Duplicates: a device already listed keeps its object, claim and thread.
  std::erase_if(fresh, [this](const std::unique_ptr<THidDevice>& f) {
    return std::any_of(devices_.begin(), devices_.end(), [&f](const auto& listed) {
      return listed->PluggedIn() && listed->PnPInfo().DeviceInstance == f->PnPInfo().DeviceInstance;
    });
  });

  for (auto& arrived : fresh) {
    THidDevice* device = arrived.get();
    uint64_t serial = device->serial();
    devices_.push_back(std::move(arrived));
    changed = true;
    device->set_enumerating(true);
    if (on_arrival_) on_arrival_(*device);
    if (index_of(serial) >= 0) device->set_enumerating(false);
  }

  if (changed && on_device_change_) on_device_change_(*this);
}

bool THidDeviceController::ClaimFirst(THidDevice*& device) {
  assert_main_thread(main_thread_);
  device = nullptr;
  for (auto& listed : devices_) {
    if (listed->Claimed()) continue;
    listed->set_claimed(true);
    listed->try_start_read_thread();
    device = listed.get();
    return true;
  }
  return false;
}

void THidDeviceController::Release(THidDevice*& device) {
  assert_main_thread(main_thread_);
  if (device == nullptr) return;
  THidDevice* released = device;
  device = nullptr;
  while_busy([this, released] {
    released->stop_read_thread();
    released->close_handles();
    if (released->PluggedIn()) {
      released->set_claimed(false);
    } else {
      destroy(released->serial());
    }
  });
}

int THidDeviceController::EnumerateDevices() {
  assert_main_thread(main_thread_);
  return while_busy([this] { return enumerate(); });
}

int THidDeviceController::enumerate() {
  int visited = 0;
  int count = static_cast<int>(devices_.size());
  for (int i = 0; i < count; ++i) {
    // Handlers may shorten the list; stay within its current length.
    if (i >= static_cast<int>(devices_.size())) break;
    THidDevice* device = devices_[static_cast<std::size_t>(i)].get();
    if (!device->PluggedIn()) continue;
    ++visited;
    if (!on_enumerate_) break;
    uint64_t serial = device->serial();
    device->set_enumerating(true);
    bool go_on = on_enumerate_(*device, i);
    if (index_of(serial) >= 0) {
      device->set_enumerating(false);
      if (!device->Claimed()) device->close_handles();
    }
    if (!go_on) break;
  }
  return visited;
}

void THidDeviceController::SetDevThreadSleepTime(int milliseconds) {
  if (milliseconds == dev_thread_sleep_time_) return;
  for (auto& device : devices_) {
    if (device->ThreadSleepTime() == dev_thread_sleep_time_)
      device->SetThreadSleepTime(milliseconds);
  }
  dev_thread_sleep_time_ = milliseconds;
}

void THidDeviceController::SetOnDeviceChange(TNotifyEvent handler) {
  if (handler == on_device_change_) return;
  on_device_change_ = std::move(handler);
  DeviceChange();
}

void THidDeviceController::SetOnDeviceData(THidDataEvent handler) {
  if (handler == on_device_data_) return;
  // Stopping a read thread pumps queued calls; hold notifications meanwhile.
  while_busy([this, &handler] {
    for (auto& device : devices_) {
      if (device->OnData() == on_device_data_) device->SetOnData(handler);
    }
    on_device_data_ = std::move(handler);
  });
}

void THidDeviceController::SetOnDeviceDataError(THidDataErrorEvent handler) {
  if (handler == on_device_data_error_) return;
  for (auto& device : devices_) {
    if (device->OnDataError() == on_device_data_error_) device->SetOnDataError(handler);
  }
  on_device_data_error_ = std::move(handler);
}

void THidDeviceController::SetOnDeviceUnplug(THidPlugEvent handler) {
  if (handler == on_device_unplug_) return;
  for (auto& device : devices_) {
    if (device->OnUnplug() == on_device_unplug_) device->SetOnUnplug(handler);
  }
  on_device_unplug_ = std::move(handler);
}

}  // namespace tarvion
