// HID access on Linux: the kernel's hidraw devices, listed through libudev,
// opened and queried with the hidraw ioctls.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "hid/hid_access.h"
#include "platform/linux/hidraw_handles.h"
#include "platform/linux/hidraw_numbering.h"
#include "platform/linux/linux_only.h"

namespace tarvion {

// One hidraw device node as the system lists it.
struct HidrawNode {
  std::string syspath;  // unique per attached device; a re-plugged device gets a new one
  std::string devnode;  // what open() takes: /dev/hidrawN
  std::string port;     // the HID device's physical path (USB port and interface), may be empty
  // The HID device's HID_ID, "0003:00000000:0000000C" (bus, vendor, product),
  // which udev gives without opening the node; may be empty.
  std::string hid_id;
};

using HidrawLister = std::function<std::vector<HidrawNode>()>;

class HidrawAccess : public HidAccess {
 public:
  // Lists through libudev.
  HidrawAccess();
  // Lists through the given function (tests use a device tree of their own).
  explicit HidrawAccess(HidrawLister lister);

  bool bound() const override { return true; }
  std::vector<HidInterface> list_interfaces() override;

  HidHandle open(const std::string& path, HidOpenMode mode) override;
  // EACCES and EPERM: the node's permissions (no udev rule for it).
  HidOpenError last_open_error() const override;
  void close(HidHandle handle) override { handles_.close(handle); }

  bool get_attributes(HidHandle handle, HidAttributes& attributes) override;
  bool get_caps(HidHandle handle, HidCaps& caps) override;
  bool get_product_string(HidHandle handle, std::u16string& text) override;

  bool write(HidHandle handle, const uint8_t* data, std::size_t length,
             std::size_t& written) override {
    return handles_.write(handle, data, length, written);
  }
  bool start_read(HidHandle handle, uint8_t* buffer, std::size_t length) override {
    return handles_.start_read(handle, buffer, length);
  }
  std::optional<std::size_t> wait_read(HidHandle handle, uint32_t timeout_ms) override {
    return handles_.wait_read(handle, timeout_ms);
  }
  void cancel_read(HidHandle handle) override { handles_.cancel_read(handle); }

  uint32_t last_error() const override { return hidraw_last_error(); }

  // Handles open now (a leak shows here).
  std::size_t open_handles() const { return handles_.size(); }

 private:
  HidrawLister lister_;
  HidrawHandles handles_;
  std::mutex numbering_mutex_;
  DeviceNumberMemory numbers_;
};

}  // namespace tarvion
