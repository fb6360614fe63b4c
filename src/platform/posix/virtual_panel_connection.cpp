#include "platform/posix/virtual_panel_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarvion {

std::unique_ptr<VirtualPanelConnection> VirtualPanelConnection::connect(
    const PanelHostEndpoint& endpoint, MainThread& main_thread, std::string& error) {
  sockaddr_storage address{};
  socklen_t length = 0;
  int family = AF_INET;
  if (endpoint.host.find(':') != std::string::npos) {
    family = AF_INET6;
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(endpoint.port);
    if (inet_pton(AF_INET6, endpoint.host.c_str(), &v6->sin6_addr) != 1) {
      error = "not an address: " + endpoint.host;
      return nullptr;
    }
    length = sizeof(sockaddr_in6);
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(endpoint.port);
    if (inet_pton(AF_INET, endpoint.host.c_str(), &v4->sin_addr) != 1) {
      error = "not an address: " + endpoint.host;
      return nullptr;
    }
    length = sizeof(sockaddr_in);
  }
  int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return nullptr;
  }
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    error = "cannot reach the virtual panel host at " + endpoint.host + ":" +
            std::to_string(endpoint.port) + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return std::unique_ptr<VirtualPanelConnection>(new VirtualPanelConnection(fd, main_thread));
}

VirtualPanelConnection::VirtualPanelConnection(int socket, MainThread& main_thread)
    : socket_(socket),
      main_thread_(main_thread),
      link_([this](const std::string& line) { send_line(line); }) {
  if (::pipe2(wake_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) wake_pipe_[0] = wake_pipe_[1] = -1;
  link_.notifier().set_wake([this] { wake(); });
  thread_ = std::thread([this] { run(); });
}

VirtualPanelConnection::~VirtualPanelConnection() {
  stop_ = true;
  wake();
  // The thread may be waiting for the main thread to take a notification.
  main_thread_.pump_until([this] { return ended_; });
  thread_.join();
  link_.notifier().set_wake({});
  ::close(socket_);
  if (wake_pipe_[0] >= 0) ::close(wake_pipe_[0]);
  if (wake_pipe_[1] >= 0) ::close(wake_pipe_[1]);
}

void VirtualPanelConnection::wake() {
  if (wake_pipe_[1] < 0) return;
  char byte = 1;
  // A full pipe already holds a wake-up; nothing is lost by dropping this one.
  [[maybe_unused]] ssize_t ignored = ::write(wake_pipe_[1], &byte, 1);
}

void VirtualPanelConnection::send_line(const std::string& line) {
  if (!connected_) return;
  std::string data = line + "\n";
  std::lock_guard lock(send_mutex_);
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(socket_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    // The reading side notices a dead connection and unplugs everything.
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

void VirtualPanelConnection::deliver_notifications() {
  if (link_.notifier().pending() == 0) return;
  main_thread_.run_and_wait([this] { link_.notifier().deliver_pending(); });
}

void VirtualPanelConnection::run() {
  char buffer[4096];
  while (!stop_) {
    pollfd fds[2] = {{connected_ ? socket_ : -1, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
    int ready = ::poll(fds, 2, wake_pipe_[0] < 0 ? 50 : -1);
    if (ready < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) {
      while (::read(wake_pipe_[0], buffer, sizeof buffer) > 0) {
      }
    }
    if (stop_) break;
    if (connected_ && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
      if (n > 0) {
        link_.receive_bytes(std::string_view(buffer, static_cast<std::size_t>(n)));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        connected_ = false;
        link_.connection_lost();
      }
    }
    try {
      deliver_notifications();
    } catch (...) {
      // A device change that failed on the main thread must not end the
      // connection: the next change lists the devices afresh.
    }
  }
  main_thread_.run_and_wait([this] { ended_ = true; });
}

std::unique_ptr<VirtualPanelConnection> virtual_panels_from_environment(MainThread& main_thread,
                                                                        std::string& error) {
  error.clear();
  const char* text = std::getenv(kVirtualPanelsVariable);
  if (text == nullptr || *text == '\0') return nullptr;
  std::string reason;
  auto endpoint = parse_panel_host_endpoint(text, reason);
  if (!endpoint) {
    error = std::string(kVirtualPanelsVariable) + "=" + text + ": " + reason;
    return nullptr;
  }
  return VirtualPanelConnection::connect(*endpoint, main_thread, error);
}

}  // namespace tarvion
