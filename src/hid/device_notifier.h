// "Device nodes changed" notifications, delivered on the main thread.
#pragma once

#include <cstdint>
#include <functional>

namespace tarvion {

// The parameter travels with the notification: the system's own notifications
// carry 0, post() carries what it was given.
using DeviceChangeHandler = std::function<void(int32_t change_param)>;

// Main thread only. A notification is always delivered later, between two
// events of the main loop (also while the main thread pumps queued calls as
// it waits for a worker), never inside the call that caused it.
class DeviceNotifier {
 public:
  virtual ~DeviceNotifier() = default;

  // Replaces the handler; an empty handler stops delivery. Notifications that
  // arrive with no handler are dropped.
  virtual void set_handler(DeviceChangeHandler handler) = 0;

  // Queues one notification of our own, delivered like the system's.
  virtual void post(int32_t change_param) = 0;
};

}  // namespace tarvion
