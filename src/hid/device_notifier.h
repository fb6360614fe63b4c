// "Device nodes changed" notifications, delivered on the main thread.
#pragma once

#include <functional>

namespace tarvion {

class DeviceNotifier {
 public:
  virtual ~DeviceNotifier() = default;
};

}  // namespace tarvion
