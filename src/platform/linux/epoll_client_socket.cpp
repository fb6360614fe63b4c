// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include "platform/linux/epoll_client_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace tarvion {

struct EpollClientSocket::Mailbox {
  struct Answer {
    uint64_t attempt;
    std::vector<sockaddr_storage> addresses;
    int error;
  };
  std::mutex mutex;
  int fd = -1;  // eventfd the loop watches; -1 once the socket is gone
  std::vector<Answer> answers;

  void deliver(Answer answer) {
    std::lock_guard lock(mutex);
    if (fd < 0) return;
    answers.push_back(std::move(answer));
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
  }
};

namespace {

// Every address of host:port in the resolver's order; 0 or a negative EAI_ code.
int resolve(const std::string& host, int32_t port, bool numeric_only,
            std::vector<sockaddr_storage>& addresses) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | (numeric_only ? AI_NUMERICHOST : 0);
  addrinfo* found = nullptr;
  int error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (error != 0) return error < 0 ? error : -error;
  for (addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    sockaddr_storage address{};
    std::memcpy(&address, a->ai_addr, a->ai_addrlen);
    addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  return addresses.empty() ? EAI_NONAME : 0;
}

// Waits until fd is writable (or readable) or the deadline passes.
bool wait_for(int fd, bool write, std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                  deadline - std::chrono::steady_clock::now())
                  .count();
  if (left <= 0) return false;
  pollfd wait{fd, static_cast<short>(write ? POLLOUT : POLLIN), 0};
  return ::poll(&wait, 1, static_cast<int>(left)) > 0;
}

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

EpollClientSocket::EpollClientSocket(EpollLoop& loop)
    : loop_(loop), mailbox_(std::make_shared<Mailbox>()) {
  mailbox_->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (mailbox_->fd >= 0) loop_.watch(mailbox_->fd, [this] { take_answers(); });
}

EpollClientSocket::~EpollClientSocket() {
  // No event may reach the logic while the socket goes away.
  events_ = {};
  drop_socket();
  std::lock_guard lock(mailbox_->mutex);
  if (mailbox_->fd >= 0) {
    loop_.unwatch(mailbox_->fd);
    ::close(mailbox_->fd);
    mailbox_->fd = -1;  // a look-up still running finds nobody to tell
  }
}

void EpollClientSocket::post(std::function<void()> fn) {
  loop_.post([this, attempt = attempt_, fn = std::move(fn)] {
    if (attempt == attempt_) fn();
  });
}

void EpollClientSocket::drop_socket() {
  connecting_ = false;
  if (fd_ < 0) return;
  loop_.unwatch(fd_);  // no event of this socket after this point
  ::close(fd_);
  fd_ = -1;
}

void EpollClientSocket::open() {
  // A new attempt replaces whatever the socket was doing, as a fresh connect would.
  ++attempt_;
  drop_socket();
  connected_ = false;
  active_ = false;
  received_.clear();
  unsent_.clear();
  addresses_.clear();
  if (port_ < 0 || port_ > 65535 || mailbox_->fd < 0) {
    post([this] { report_attempt_failed(SocketError::other); });
    return;
  }
  std::vector<sockaddr_storage> addresses;
  if (resolve(host_, port_, true, addresses) == 0) {
    post([this, addresses = std::move(addresses)]() mutable { resolved(std::move(addresses), 0); });
    return;
  }
  try {
    std::thread([mailbox = mailbox_, attempt = attempt_, host = host_, port = port_] {
      Mailbox::Answer answer{attempt, {}, 0};
      answer.error = resolve(host, port, false, answer.addresses);
      mailbox->deliver(std::move(answer));
    }).detach();
  } catch (const std::system_error&) {
    post([this] { report_attempt_failed(SocketError::other); });
  }
}

void EpollClientSocket::take_answers() {
  std::vector<Mailbox::Answer> answers;
  {
    std::lock_guard lock(mailbox_->mutex);
    uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(mailbox_->fd, &count, sizeof count);
    answers.swap(mailbox_->answers);
  }
  for (auto& answer : answers) {
    // Only the latest attempt's answer counts; the logic may open again from
    // inside resolved(), which makes the rest stale.
    if (answer.attempt == attempt_) resolved(std::move(answer.addresses), answer.error);
  }
}

void EpollClientSocket::resolved(std::vector<sockaddr_storage> addresses, int error) {
  if (error != 0) {
    report_attempt_failed(map_errno(error));
    return;
  }
  addresses_ = std::move(addresses);
  last_connect_error_ = EADDRNOTAVAIL;
  connect_next();
}

void EpollClientSocket::connect_next() {
  while (!addresses_.empty()) {
    sockaddr_storage address = addresses_.front();
    addresses_.erase(addresses_.begin());
    int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
      last_connect_error_ = errno;
      continue;
    }
    int no_delay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay);
    socklen_t length = address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 || errno == EINPROGRESS) {
      fd_ = fd;
      connecting_ = true;
      // Writable tells that the connect ended, either way.
      loop_.watch_events(fd_, EPOLLOUT, [this](uint32_t events) { on_ready(events); });
      return;
    }
    last_connect_error_ = errno;
    ::close(fd);
  }
  report_attempt_failed(map_errno(last_connect_error_));
}

void EpollClientSocket::report_attempt_failed(SocketError error) {
  if (events_.on_error) events_.on_error(error, false);
}

void EpollClientSocket::finish_connect() {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error != 0) {
    drop_socket();
    last_connect_error_ = error;
    connect_next();
    return;
  }
  connecting_ = false;
  connected_ = true;
  active_ = true;
  want_write_ = true;  // as the connect left it
  want_write(false);
  if (events_.on_connect) events_.on_connect();
}

void EpollClientSocket::want_write(bool want) {
  if (fd_ < 0 || want == want_write_) return;
  want_write_ = want;
  loop_.change_events(fd_, EPOLLIN | EPOLLRDHUP | (want ? uint32_t{EPOLLOUT} : 0u));
}

void EpollClientSocket::on_ready(uint32_t events) {
  if (connecting_) {
    finish_connect();
    return;
  }
  if (!connected_) return;
  if (events & EPOLLOUT) {
    flush();
    if (!connected_) return;  // the send failed; reported from the loop
  }
  int fd = fd_;
  std::optional<int> end = read_available();
  if (fd != fd_ || !connected_) return;  // the logic closed or reopened meanwhile
  if (!end && (events & (EPOLLHUP | EPOLLERR))) {
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
    end = error;
  }
  if (!end) return;
  connected_ = false;
  unsent_.clear();
  drop_socket();
  report_end(*end == 0 ? std::nullopt : std::optional(map_errno(*end)));
}

std::optional<int> EpollClientSocket::read_available() {
  char buffer[4096];
  bool got = false;
  std::optional<int> end;
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) {
      received_.append(buffer, static_cast<std::size_t>(n));
      got = true;
      continue;
    }
    if (n == 0) {
      end = 0;
    } else if (errno == EINTR) {
      continue;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
      end = errno;
    }
    break;
  }
  // What arrived before the end is still the peer's to say.
  if (got && active_ && events_.on_read) events_.on_read();
  return end;
}

void EpollClientSocket::close() {
  ++attempt_;  // events of the closed connection are not delivered
  bool was_connected = connected_;
  active_ = false;
  connected_ = false;
  addresses_.clear();
  if (!was_connected || fd_ < 0) {
    drop_socket();
    return;
  }
  // What was sent last (the goodbye) must leave before the socket closes, and
  // input already here is taken first, so that the close is an orderly one and
  // not a reset that could destroy the goodbye at the peer.
  loop_.unwatch(fd_);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGoodbyeMs);
  std::size_t sent = 0;
  while (sent < unsent_.size()) {
    ssize_t n = ::send(fd_, unsent_.data() + sent, unsent_.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if ((errno != EAGAIN && errno != EINTR) || !wait_for(fd_, true, deadline)) {
      break;
    }
  }
  bool all_sent = sent == unsent_.size();
  unsent_.clear();
  if (all_sent) {
    ::shutdown(fd_, SHUT_WR);
    // Until the peer closes too: a flooding peer is cut off by the deadline.
    char discard[4096];
    for (;;) {
      ssize_t n = ::recv(fd_, discard, sizeof discard, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
      if (n < 0 && !wait_for(fd_, false, deadline)) break;
    }
  }
  ::close(fd_);
  fd_ = -1;
}

void EpollClientSocket::send_text(std::string_view text) {
  // Also after the connection ended and before the logic has heard of it.
  if (!active_ || !connected_) return;
  unsent_.append(text);
  flush();
  if (connected_ && unsent_.size() > kSendQueueLimit) {
    // The peer stopped reading: told from the loop, never from inside send_text.
    connected_ = false;
    unsent_.clear();
    drop_socket();
    post([this] { report_end(SocketError::other); });
  }
}

void EpollClientSocket::flush() {
  while (!unsent_.empty() && connected_) {
    ssize_t n = ::send(fd_, unsent_.data(), unsent_.size(), MSG_NOSIGNAL);
    if (n > 0) {
      unsent_.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      want_write(true);  // writable sends the rest
      return;
    }
    // A failed send ends the connection; told from the loop, never from
    // inside send_text.
    SocketError mapped = map_errno(n < 0 ? errno : EPIPE);
    connected_ = false;
    unsent_.clear();
    drop_socket();
    post([this, mapped] { report_end(mapped); });
    return;
  }
  if (connected_) want_write(false);  // all out: stop asking for writable
}

std::string EpollClientSocket::receive_text() {
  std::string text;
  text.swap(received_);
  return text;
}

void EpollClientSocket::report_end(std::optional<SocketError> error) {
  if (!active_) return;  // the logic never heard of this connection
  active_ = false;
  if (!error) {
    if (events_.on_disconnect) events_.on_disconnect();
  } else if (events_.on_error) {
    events_.on_error(*error, true);
  }
}

}  // namespace tarvion
