#include "udev_relay.h"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "udev_broadcast.h"

namespace tarvion::testing {

UdevRelay::UdevRelay() {
  socket_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
  stop_fd_ = eventfd(0, EFD_CLOEXEC);
  if (socket_ < 0 || stop_fd_ < 0) return;
  sockaddr_nl kernel_group{};
  kernel_group.nl_family = AF_NETLINK;
  kernel_group.nl_groups = 1;
  if (bind(socket_, reinterpret_cast<sockaddr*>(&kernel_group), sizeof kernel_group) != 0) {
    ::close(socket_);
    socket_ = -1;
    return;
  }
  thread_ = std::thread([this] { run(); });
}

UdevRelay::~UdevRelay() {
  if (thread_.joinable()) {
    eventfd_write(stop_fd_, 1);
    thread_.join();
  }
  if (socket_ >= 0) ::close(socket_);
  if (stop_fd_ >= 0) ::close(stop_fd_);
}

void UdevRelay::run() {
  std::vector<char> buffer(16384);
  for (;;) {
    pollfd fds[2] = {{socket_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents & POLLIN) return;
    ssize_t n = ::recv(socket_, buffer.data(), buffer.size(), 0);
    if (n <= 0) continue;
    // "ACTION@DEVPATH", then KEY=VALUE texts, each ended by a NUL.
    std::vector<std::string> properties;
    std::size_t pos = 0;
    bool header = true;
    while (pos < static_cast<std::size_t>(n)) {
      std::string text(buffer.data() + pos,
                       strnlen(buffer.data() + pos, static_cast<std::size_t>(n) - pos));
      pos += text.size() + 1;
      if (header) {
        header = false;
        if (text.find("@/") == std::string::npos) break;  // not a kernel event
        continue;
      }
      if (!text.empty()) properties.push_back(text);
    }
    if (!properties.empty() && broadcast_udev_event(properties)) ++relayed_;
  }
}

}  // namespace tarvion::testing
