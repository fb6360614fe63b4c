#include "platform/linux/hidraw_access.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <span>
#include <string_view>

#include "base/utf16.h"
#include "platform/linux/linux_only.h"
#include "platform/linux/udev_devices.h"

namespace tarvion {
namespace {

thread_local HidOpenError open_error = HidOpenError::other;

void note_errno() {
  set_hidraw_last_error(static_cast<uint32_t>(errno));
}

// One hexadecimal field of HID_ID as a 16-bit ID; the kernel prints eight digits.
std::optional<uint16_t> hex_id(std::string_view field) {
  if (field.empty() || field.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : field) {
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  if (value > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(value);
}

// "bus:vendor:product"; nullopt for anything else.
std::optional<HidAttributes> ids_of_hid_id(std::string_view hid_id) {
  std::size_t first = hid_id.find(':');
  if (first == std::string_view::npos) return std::nullopt;
  std::size_t second = hid_id.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  std::optional<uint16_t> vendor = hex_id(hid_id.substr(first + 1, second - first - 1));
  std::optional<uint16_t> product = hex_id(hid_id.substr(second + 1));
  if (!vendor || !product) return std::nullopt;
  return HidAttributes{*vendor, *product, 0};
}

// The device's report descriptor, parsed. False when the device does not
// give it (not a hidraw node, or gone).
bool read_layout(int fd, HidReportLayout& layout) {
  int size = 0;
  if (ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) return false;
  hidraw_report_descriptor descriptor{};
  // The kernel refuses a request for the whole buffer; a descriptor that
  // long is cut and then parses as broken, which gives zero lengths.
  descriptor.size = static_cast<uint32_t>(std::clamp(size, 0, HID_MAX_DESCRIPTOR_SIZE - 1));
  if (ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) return false;
  std::size_t length = std::min<std::size_t>(descriptor.size, sizeof(descriptor.value));
  layout = parse_report_descriptor(std::span<const uint8_t>(descriptor.value, length));
  return true;
}

}  // namespace

HidrawAccess::HidrawAccess() : HidrawAccess(list_hidraw_nodes) {}

HidrawAccess::HidrawAccess(HidrawLister lister) : lister_(std::move(lister)) {}

std::vector<HidInterface> HidrawAccess::list_interfaces() {
  std::vector<HidrawNode> nodes = lister_();
  std::vector<HidrawSeat> seats;
  seats.reserve(nodes.size());
  for (const HidrawNode& node : nodes) seats.push_back(HidrawSeat{node.syspath, node.port});
  std::vector<uint16_t> numbers;
  {
    std::lock_guard lock(numbering_mutex_);
    numbers = assign_device_numbers(seats, numbers_);
  }
  std::vector<HidInterface> interfaces;
  interfaces.reserve(nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    interfaces.push_back(HidInterface{nodes[i].syspath, nodes[i].devnode,
                                      driver_key_text(numbers[i]), ids_of_hid_id(nodes[i].hid_id)});
  }
  return interfaces;
}

HidHandle HidrawAccess::open(const std::string& path, HidOpenMode mode) {
  int flags = O_CLOEXEC | O_NOCTTY;
  switch (mode) {
    case HidOpenMode::read_write:
      flags |= O_RDWR;
      break;
    case HidOpenMode::query_only:
      flags |= O_RDONLY;
      break;
    case HidOpenMode::read:
      // Waiting is poll's job; a read never blocks.
      flags |= O_RDONLY | O_NONBLOCK;
      break;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    open_error =
        errno == EACCES || errno == EPERM ? HidOpenError::no_permission : HidOpenError::other;
    note_errno();
    return kNoHidHandle;
  }
  HidReportLayout layout;
  bool descriptor_read = read_layout(fd, layout);
  return handles_.add(fd, mode, layout, descriptor_read);
}

HidOpenError HidrawAccess::last_open_error() const {
  return open_error;
}

bool HidrawAccess::get_attributes(HidHandle handle, HidAttributes& attributes) {
  std::shared_ptr<const HidrawFile> file = handles_.find(handle);
  if (!file) {
    set_hidraw_last_error(EBADF);
    return false;
  }
  hidraw_devinfo info{};
  if (ioctl(file->fd, HIDIOCGRAWINFO, &info) < 0) {
    note_errno();
    return false;
  }
  // The kernel keeps the IDs in signed 16-bit fields.
  attributes.vendor_id = static_cast<uint16_t>(info.vendor);
  attributes.product_id = static_cast<uint16_t>(info.product);
  // hidraw does not say; nothing in the program reads it.
  attributes.version_number = 0;
  return true;
}

bool HidrawAccess::get_caps(HidHandle handle, HidCaps& caps) {
  std::shared_ptr<const HidrawFile> file = handles_.find(handle);
  if (!file) {
    set_hidraw_last_error(EBADF);
    return false;
  }
  if (!file->descriptor_read) {
    set_hidraw_last_error(ENOTTY);
    return false;
  }
  // A descriptor that could be read but not trusted gives zero lengths, as a
  // device without capabilities does.
  caps.input_report_length = file->layout.input_report_length;
  caps.output_report_length = file->layout.output_report_length;
  return true;
}

bool HidrawAccess::get_product_string(HidHandle handle, std::u16string& text) {
  std::shared_ptr<const HidrawFile> file = handles_.find(handle);
  if (!file) {
    set_hidraw_last_error(EBADF);
    return false;
  }
  struct stat status {};
  if (fstat(file->fd, &status) == 0 && S_ISCHR(status.st_mode)) {
    if (std::optional<std::string> product = usb_product_string(status.st_rdev)) {
      text = utf8_to_utf16(*product);
      return true;
    }
  }
  std::array<char, 256> name{};
  if (ioctl(file->fd, HIDIOCGRAWNAME(name.size()), name.data()) < 0) {
    note_errno();
    return false;
  }
  name.back() = '\0';
  text = utf8_to_utf16(name.data());
  return true;
}

}  // namespace tarvion
