// The HID access seam: what the device and controller logic needs of the
// OS's HID services. Filled in by the HID layer.
#pragma once

namespace tarvion {

class HidAccess {
 public:
  virtual ~HidAccess() = default;
};

}  // namespace tarvion
