#include "platform/posix/virtual_panel_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/posix/descriptors.h"

namespace tarvion {
namespace {

constexpr std::chrono::milliseconds kFinalFlush{250};
constexpr int kConnectSliceMs = 50;

}  // namespace

std::unique_ptr<VirtualPanelConnection> VirtualPanelConnection::connect(
    const PanelHostEndpoint& endpoint, MainThread& main_thread, std::string& error,
    const std::function<bool()>& give_up) {
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
  int fd = owned_socket(family, SOCK_STREAM, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return nullptr;
  }
  // Waited for in short slices: a host that does not accept must not keep the
  // program from hearing a close request meanwhile.
  int result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 ? 0 : errno;
  if (result == EINPROGRESS) {
    result = ETIMEDOUT;
    for (int waited = 0; waited < kPanelHostConnectLimitMs; waited += kConnectSliceMs) {
      if (give_up && give_up()) {
        result = EINTR;
        break;
      }
      pollfd writable{fd, POLLOUT, 0};
      int ready = ::poll(&writable, 1, kConnectSliceMs);
      if (ready < 0 && errno != EINTR) {
        result = errno;
        break;
      }
      if (ready > 0) {
        socklen_t size = sizeof result;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0) result = errno;
        break;
      }
    }
  }
  if (result != 0) {
    error = "cannot reach the virtual panel host at " + endpoint.host + ":" +
            std::to_string(endpoint.port) + ": " + std::strerror(result);
    ::close(fd);
    return nullptr;
  }
  // Blocking again for reads; sends say MSG_DONTWAIT themselves.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return std::unique_ptr<VirtualPanelConnection>(new VirtualPanelConnection(fd, main_thread));
}

VirtualPanelConnection::VirtualPanelConnection(int socket, MainThread& main_thread)
    : socket_(socket),
      main_thread_(main_thread),
      link_([this](const std::string& line) { send_line(line); }) {
  if (!owned_pair(wake_pipe_, false)) wake_pipe_[0] = wake_pipe_[1] = -1;
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
  // The last images (the dark ones of the close) get a short, fixed time to
  // leave; a host that does not read them by then loses them.
  auto deadline = std::chrono::steady_clock::now() + kFinalFlush;
  for (;;) {
    std::lock_guard lock(send_mutex_);
    flush_locked();
    if (backlog_.empty() || !connected_) break;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd writable{socket_, POLLOUT, 0};
    ::poll(&writable, 1, static_cast<int>(left.count()));
  }
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
  bool waiting = false;
  {
    std::lock_guard lock(send_mutex_);
    backlog_.push(std::string(panel_line_device(line)), line + "\n");
    flush_locked();
    waiting = !backlog_.empty();
  }
  if (waiting) wake();  // the thread waits for room
}

void VirtualPanelConnection::flush_locked() {
  while (!backlog_.empty()) {
    std::string_view bytes = backlog_.next();
    ssize_t n = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // The reading side notices a dead connection and unplugs everything.
    if (n <= 0) {
      backlog_.clear();
      return;
    }
    backlog_.consume(static_cast<std::size_t>(n));
  }
}

bool VirtualPanelConnection::output_waiting() {
  std::lock_guard lock(send_mutex_);
  return !backlog_.empty();
}

void VirtualPanelConnection::deliver_notifications() {
  if (link_.notifier().pending() == 0) return;
  main_thread_.run_and_wait([this] { link_.notifier().deliver_pending(); });
}

void VirtualPanelConnection::run() {
  char buffer[4096];
  while (!stop_) {
    short events = static_cast<short>(POLLIN | (output_waiting() ? POLLOUT : 0));
    pollfd fds[2] = {{connected_ ? socket_ : -1, events, 0}, {wake_pipe_[0], POLLIN, 0}};
    int ready = ::poll(fds, 2, wake_pipe_[0] < 0 ? 50 : -1);
    if (ready < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) {
      while (::read(wake_pipe_[0], buffer, sizeof buffer) > 0) {
      }
    }
    if (stop_) break;
    if (connected_ && (fds[0].revents & POLLOUT)) {
      std::lock_guard lock(send_mutex_);
      flush_locked();
    }
    if (connected_ && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
      if (n > 0) {
        link_.receive_bytes(std::string_view(buffer, static_cast<std::size_t>(n)));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        connected_ = false;
        {
          std::lock_guard lock(send_mutex_);
          backlog_.clear();
        }
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

std::unique_ptr<VirtualPanelConnection> virtual_panels_from_environment(
    MainThread& main_thread, std::string& error, const std::function<bool()>& give_up) {
  auto endpoint = panel_host_from_environment(error);
  if (!endpoint) return nullptr;
  return VirtualPanelConnection::connect(*endpoint, main_thread, error, give_up);
}

}  // namespace tarvion
