#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace tarvion::e2e {

namespace {

using Clock = std::chrono::steady_clock;

int bound_socket(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("bind");
  return fd;
}

bool wait_readable(int fd, Ms bound) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(bound.count())) > 0;
}

}  // namespace

Connection::~Connection() {
  if (fd_ >= 0) ::close(fd_);
}

bool Connection::fill(Ms bound) {
  if (eof_ || fd_ < 0 || !wait_readable(fd_, bound)) return false;
  char buffer[4096];
  ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
  if (n <= 0) {
    eof_ = true;
    return false;
  }
  pending_.append(buffer, static_cast<size_t>(n));
  return true;
}

std::optional<std::string> Connection::read_line(Ms bound) {
  auto deadline = Clock::now() + bound;
  for (;;) {
    auto end = pending_.find("\r\n");
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 2);
      return line;
    }
    auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now());
    if (left.count() <= 0 || !fill(left)) return std::nullopt;
  }
}

std::optional<std::string> Connection::read_to_end(Ms bound) {
  auto deadline = Clock::now() + bound;
  while (!eof_) {
    auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    fill(left);
  }
  std::string all;
  all.swap(pending_);
  return all;
}

void Connection::send(const std::string& text) {
  ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
}

void Connection::reset() {
  linger hard{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd_);
  fd_ = -1;
}

LoopbackServer::LoopbackServer(bool listening) {
  fd_ = bound_socket(0);
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  if (listening) listen();
}

LoopbackServer::~LoopbackServer() {
  if (fd_ >= 0) ::close(fd_);
}

void LoopbackServer::listen() {
  if (fd_ < 0) fd_ = bound_socket(port_);
  ::listen(fd_, 8);
}

void LoopbackServer::stop_listening() {
  // A bound socket that does not listen refuses connections and keeps the port ours.
  ::close(fd_);
  fd_ = bound_socket(port_);
}

std::unique_ptr<Connection> LoopbackServer::accept(Ms bound) {
  if (!wait_readable(fd_, bound)) return nullptr;
  int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<Connection>(fd);
}

}  // namespace tarvion::e2e
