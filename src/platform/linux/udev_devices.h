// What libudev tells about hidraw devices: the nodes present now, and the USB
// product string behind a node.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/hidraw_access.h"
#include "platform/linux/linux_only.h"

namespace tarvion {

// The hidraw devices present now, in the system's order; nodes without a
// device file are left out.
std::vector<HidrawNode> list_hidraw_nodes();

// The product string of the USB device behind a hidraw node, when it sits on
// USB and has one. (The kernel's HID name puts the maker's name in front.)
std::optional<std::string> usb_product_string(dev_t node);

}  // namespace tarvion
