// Virtual "device nodes changed" notifications: queued from any thread and
// delivered on the main thread when the test (or the link) calls for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "hid/device_notifier.h"

namespace tarvion {

class VirtualDeviceNotifier : public DeviceNotifier {
 public:
  void set_handler(DeviceChangeHandler handler) override;
  void post(int32_t change_param) override;

  // Any thread: the system's notification that device nodes changed.
  void notify_system() { queue(0); }
  // Main thread: delivers every queued notification, in order; returns how
  // many were queued (also those dropped for want of a handler).
  int deliver_pending();
  std::size_t pending() const;
  // Called, from the queueing thread, after each notification is queued: how
  // a main loop learns that there is something to deliver.
  void set_wake(std::function<void()> wake);

 private:
  void queue(int32_t change_param);

  mutable std::mutex mutex_;
  std::deque<int32_t> queued_;
  std::function<void()> wake_;
  DeviceChangeHandler handler_;  // main thread only
};

}  // namespace tarvion
