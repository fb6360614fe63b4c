#include "platform/linux/udev_devices.h"

#include <libudev.h>

#include <memory>

#include "platform/linux/linux_only.h"

namespace tarvion {
namespace {

struct UdevUnref {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <class T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

std::string text_or_empty(const char* text) {
  return text ? std::string(text) : std::string();
}

}  // namespace

std::vector<HidrawNode> list_hidraw_nodes() {
  std::vector<HidrawNode> nodes;
  UdevPtr<udev> context(udev_new());
  if (!context) return nodes;
  UdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
  if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw") < 0 ||
      udev_enumerate_scan_devices(enumerate.get()) < 0) {
    return nodes;
  }
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
    const char* syspath = udev_list_entry_get_name(entry);
    if (!syspath) continue;
    // A device that went away since the scan gives nothing here.
    UdevPtr<udev_device> device(udev_device_new_from_syspath(context.get(), syspath));
    if (!device) continue;
    const char* devnode = udev_device_get_devnode(device.get());
    if (!devnode) continue;
    // The parent is owned by its child: no unref.
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device.get(), "hid", nullptr);
    std::string port = hid ? text_or_empty(udev_device_get_property_value(hid, "HID_PHYS")) : "";
    std::string hid_id = hid ? text_or_empty(udev_device_get_property_value(hid, "HID_ID")) : "";
    nodes.push_back(HidrawNode{syspath, devnode, std::move(port), std::move(hid_id)});
  }
  return nodes;
}

std::optional<std::string> usb_product_string(dev_t node) {
  UdevPtr<udev> context(udev_new());
  if (!context) return std::nullopt;
  UdevPtr<udev_device> device(udev_device_new_from_devnum(context.get(), 'c', node));
  if (!device) return std::nullopt;
  udev_device* usb =
      udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
  if (!usb) return std::nullopt;
  const char* product = udev_device_get_sysattr_value(usb, "product");
  if (!product) return std::nullopt;
  return std::string(product);
}

}  // namespace tarvion
