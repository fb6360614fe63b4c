// clang-format off
#include "platform/posix/posix_only.h"  // first: this file is POSIX-only
// clang-format on

#include "platform/posix/posix_tcp_io.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/posix/descriptors.h"

namespace tarvion {

struct PosixTcpIo::Mailbox {
  struct Answer {
    uint64_t lookup;
    std::vector<NetAddress> addresses;
    int error;
  };
  std::mutex mutex;
  int read_fd = -1;   // the loop watches it
  int write_fd = -1;  // -1 once the client is gone: a late look-up finds nobody to tell
  std::vector<Answer> answers;

  void deliver(Answer answer) {
    std::lock_guard lock(mutex);
    if (write_fd < 0) return;
    answers.push_back(std::move(answer));
    char one = 1;
    [[maybe_unused]] ssize_t n = ::write(write_fd, &one, 1);
  }
};

namespace {

// Every address of host:port in the resolver's order; 0 or a negative EAI_ code.
int resolve_now(const std::string& host, int32_t port, bool numeric_only,
                std::vector<NetAddress>& addresses) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | (numeric_only ? AI_NUMERICHOST : 0);
  addrinfo* found = nullptr;
  int error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (error != 0) return error < 0 ? error : -error;
  for (addrinfo* a = found; a; a = a->ai_next) {
    NetAddress address;
    if (a->ai_addrlen > address.bytes.size()) continue;
    std::memcpy(address.bytes.data(), a->ai_addr, a->ai_addrlen);
    address.length = a->ai_addrlen;
    addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  return addresses.empty() ? EAI_NONAME : 0;
}

IoResult failed(int error) { return {IoResult::Status::failed, 0, map_errno(error)}; }

}  // namespace

SocketError map_errno(int error) {
  switch (error) {
    case ECONNREFUSED:
      return SocketError::refused;
    case ETIMEDOUT:
      return SocketError::timed_out;
    case EAI_NONAME:
    case EAI_AGAIN:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
      return SocketError::host_not_found;
    case ECONNRESET:
    case ECONNABORTED:
    case ENETRESET:
    case EPIPE:
      return SocketError::reset;
    default:
      return SocketError::other;
  }
}

PosixTcpIo::PosixTcpIo(FdWatcher& watcher)
    : watcher_(watcher), mailbox_(std::make_shared<Mailbox>()) {
  int fds[2];
  if (!owned_pair(fds, false)) return;
  mailbox_->read_fd = fds[0];
  mailbox_->write_fd = fds[1];
  watcher_.watch(mailbox_->read_fd, [this] { take_answers(); });
}

PosixTcpIo::~PosixTcpIo() {
  *alive_ = false;
  close_socket();
  if (mailbox_->read_fd < 0) return;
  watcher_.unwatch(mailbox_->read_fd);
  std::lock_guard lock(mailbox_->mutex);
  ::close(mailbox_->read_fd);
  ::close(mailbox_->write_fd);
  mailbox_->write_fd = -1;
}

bool PosixTcpIo::usable() const { return mailbox_->read_fd >= 0; }

void PosixTcpIo::post(std::function<void()> fn) {
  watcher_.post([alive = std::weak_ptr<bool>(alive_), fn = std::move(fn)] {
    if (auto a = alive.lock(); a && *a) fn();
  });
}

void PosixTcpIo::resolve(const std::string& host, int32_t port, uint64_t lookup) {
  auto answer = [this, lookup](std::vector<NetAddress> addresses, int error) {
    if (handlers_.resolved) {
      handlers_.resolved(lookup, std::move(addresses),
                         error == 0 ? std::nullopt : std::optional(map_errno(error)));
    }
  };
  std::vector<NetAddress> addresses;
  if (resolve_now(host, port, true, addresses) == 0) {
    post([answer, addresses = std::move(addresses)]() mutable { answer(std::move(addresses), 0); });
    return;
  }
  try {
    std::thread([mailbox = mailbox_, lookup, host, port] {
      Mailbox::Answer a{lookup, {}, 0};
      a.error = resolve_now(host, port, false, a.addresses);
      mailbox->deliver(std::move(a));
    }).detach();
  } catch (const std::system_error&) {
    post([answer] { answer({}, EAGAIN); });
  }
}

void PosixTcpIo::take_answers() {
  std::vector<Mailbox::Answer> answers;
  {
    std::lock_guard lock(mailbox_->mutex);
    char drain[64];
    while (::read(mailbox_->read_fd, drain, sizeof drain) > 0) {
    }
    answers.swap(mailbox_->answers);
  }
  for (auto& a : answers) {
    if (!handlers_.resolved) continue;
    handlers_.resolved(a.lookup, std::move(a.addresses),
                       a.error == 0 ? std::nullopt : std::optional(map_errno(a.error)));
  }
}

std::optional<SocketError> PosixTcpIo::connect(const NetAddress& address) {
  close_socket();
  const auto* sa = reinterpret_cast<const sockaddr*>(address.bytes.data());
  int fd = owned_socket(sa->sa_family, SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0) return map_errno(errno);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
#ifdef SO_NOSIGPIPE
  ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
  if (::connect(fd, sa, static_cast<socklen_t>(address.length)) != 0 && errno != EINPROGRESS) {
    int error = errno;
    ::close(fd);
    return map_errno(error);
  }
  fd_ = fd;
  // Writable tells that the connect ended, either way.
  want_write_ = true;
  watched_ = true;
  watcher_.watch_io(fd_, true, [this] {
    if (handlers_.ready) handlers_.ready();
  });
  return std::nullopt;
}

TcpIo::ConnectOutcome PosixTcpIo::connect_outcome() {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error != 0) return {true, map_errno(error)};
  pollfd p{fd_, POLLOUT, 0};
  if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLOUT)) return {false, std::nullopt};
  return {true, std::nullopt};
}

IoResult PosixTcpIo::send(std::string_view bytes) {
#ifdef MSG_NOSIGNAL
  constexpr int kFlags = MSG_NOSIGNAL;
#else
  constexpr int kFlags = 0;
#endif
  for (;;) {
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), kFlags);
    if (n >= 0) return {IoResult::Status::done, static_cast<std::size_t>(n)};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoResult::Status::would_block};
    return failed(errno);
  }
}

IoResult PosixTcpIo::receive(char* buffer, std::size_t size) {
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n > 0) return {IoResult::Status::done, static_cast<std::size_t>(n)};
    if (n == 0) return {IoResult::Status::ended};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoResult::Status::would_block};
    return failed(errno);
  }
}

void PosixTcpIo::want_write(bool want) {
  if (!watched_ || want == want_write_) return;
  want_write_ = want;
  watcher_.set_write_interest(fd_, want);
}

void PosixTcpIo::stop_events() {
  if (!watched_) return;
  watcher_.unwatch(fd_);
  watched_ = false;
}

bool PosixTcpIo::wait(bool for_write, std::chrono::milliseconds bound) {
  if (bound.count() <= 0) return false;
  pollfd p{fd_, static_cast<short>(for_write ? POLLOUT : POLLIN), 0};
  return ::poll(&p, 1, static_cast<int>(bound.count())) > 0;
}

void PosixTcpIo::shutdown_send() { ::shutdown(fd_, SHUT_WR); }

void PosixTcpIo::close_socket() {
  if (fd_ < 0) return;
  stop_events();  // no event of this socket after this point
  ::close(fd_);
  fd_ = -1;
}

}  // namespace tarvion
