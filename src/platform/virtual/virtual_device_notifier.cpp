#include "platform/virtual/virtual_device_notifier.h"

namespace tarvion {

void VirtualDeviceNotifier::set_handler(DeviceChangeHandler handler) {
  handler_ = std::move(handler);
}

void VirtualDeviceNotifier::post(int32_t change_param) {
  queue(change_param);
}

void VirtualDeviceNotifier::queue(int32_t change_param) {
  std::function<void()> wake;
  {
    std::lock_guard lock(mutex_);
    queued_.push_back(change_param);
    wake = wake_;
  }
  if (wake) wake();
}

void VirtualDeviceNotifier::set_wake(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
}

std::size_t VirtualDeviceNotifier::pending() const {
  std::lock_guard lock(mutex_);
  return queued_.size();
}

int VirtualDeviceNotifier::deliver_pending() {
  int count = 0;
  for (;;) {
    int32_t change_param = 0;
    {
      std::lock_guard lock(mutex_);
      if (queued_.empty()) return count;
      change_param = queued_.front();
      queued_.pop_front();
    }
    ++count;
    // A copy: the handler may replace itself.
    DeviceChangeHandler handler = handler_;
    if (handler) handler(change_param);
  }
}

}  // namespace tarvion
