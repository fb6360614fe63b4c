#include "uhid_device.h"

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace tarvion::testing {
namespace {

bool write_event(int fd, const uhid_event& event) {
  return ::write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

void copy_text(uint8_t* to, std::size_t size, const std::string& text) {
  std::memcpy(to, text.data(), std::min(text.size(), size - 1));
}

}  // namespace

UhidDevice::UhidDevice(const UhidDescription& description) {
  fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd_ < 0) return;
  uhid_event event{};
  event.type = UHID_CREATE2;
  copy_text(event.u.create2.name, sizeof event.u.create2.name, description.name);
  copy_text(event.u.create2.phys, sizeof event.u.create2.phys, description.phys);
  event.u.create2.rd_size = static_cast<uint16_t>(
      std::min(description.descriptor.size(), sizeof event.u.create2.rd_data));
  std::memcpy(event.u.create2.rd_data, description.descriptor.data(), event.u.create2.rd_size);
  event.u.create2.bus = BUS_USB;
  event.u.create2.vendor = description.vendor;
  event.u.create2.product = description.product;
  if (!write_event(fd_, event)) unplug();
}

UhidDevice::~UhidDevice() {
  unplug();
}

void UhidDevice::unplug() {
  if (fd_ < 0) return;
  uhid_event event{};
  event.type = UHID_DESTROY;
  write_event(fd_, event);
  ::close(fd_);
  fd_ = -1;
}

bool UhidDevice::send_input(const std::vector<uint8_t>& report) {
  if (fd_ < 0) return false;
  uhid_event event{};
  event.type = UHID_INPUT2;
  event.u.input2.size = static_cast<uint16_t>(std::min(report.size(), sizeof event.u.input2.data));
  std::memcpy(event.u.input2.data, report.data(), event.u.input2.size);
  return write_event(fd_, event);
}

std::optional<std::vector<uint8_t>> UhidDevice::next_output(std::chrono::milliseconds limit) {
  if (fd_ < 0) return std::nullopt;
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    uhid_event event{};
    if (::read(fd_, &event, sizeof event) <= 0) return std::nullopt;
    switch (event.type) {
      case UHID_OUTPUT: {
        const auto& output = event.u.output;
        std::size_t size = std::min<std::size_t>(output.size, sizeof output.data);
        return std::vector<uint8_t>(output.data, output.data + size);
      }
      case UHID_GET_REPORT: {
        // Nothing here has feature reports; answer at once so that the
        // kernel does not wait for us.
        uhid_event reply{};
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = event.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
        write_event(fd_, reply);
        break;
      }
      case UHID_SET_REPORT: {
        uhid_event reply{};
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = event.u.set_report.id;
        write_event(fd_, reply);
        break;
      }
      default:
        break;  // start, stop, open, close
    }
  }
}

}  // namespace tarvion::testing
