#include "peer_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "peer_text.h"

namespace zemp_peer {

namespace {

constexpr std::string_view kKeepAlive = "Arn.Vivo:\r\n";
// A client line longer than this is logged in part and dropped, so a client
// that never ends its line cannot fill the peer's memory.
constexpr size_t kMaxLine = 64 * 1024;

volatile sig_atomic_t g_stop = 0;
void on_stop_signal(int) {
  g_stop = 1;
}

std::string address_text(const sockaddr* address, socklen_t size) {
  char host[NI_MAXHOST], port[NI_MAXSERV];
  if (getnameinfo(address, size, host, sizeof host, port, sizeof port,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return "?";
  }
  return address->sa_family == AF_INET6 ? "[" + std::string(host) + "]:" + port
                                        : std::string(host) + ":" + port;
}

}  // namespace

PeerServer::PeerServer(PeerOptions options) : options_(std::move(options)) {}

PeerServer::~PeerServer() {
  for (auto& client : clients_) {
    if (!client->ended) ::close(client->fd);
  }
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

void PeerServer::log(const std::string& line) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::printf("[%9.3f] %s\n", seconds, line.c_str());
  std::fflush(stdout);
}

std::string PeerServer::where() const {
  return address_text(reinterpret_cast<const sockaddr*>(&address_), address_size_);
}

// Binds a fresh socket to the port without listening: connections to it are refused.
bool PeerServer::bind_port() {
  if (listen_fd_ >= 0) ::close(listen_fd_);
  listen_fd_ = ::socket(address_.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return false;
  int on = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address_), address_size_) != 0) {
    return false;
  }
  // With port 0 the system picked one; later binds keep it.
  return ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address_), &address_size_) == 0;
}

void PeerServer::start_listening() {
  if (listening_) return;
  if (::listen(listen_fd_, 16) != 0) {
    log(std::string("cannot listen: ") + std::strerror(errno));
    return;
  }
  listening_ = true;
  log("listening on " + where());
}

void PeerServer::stop_listening() {
  if (!listening_) return;
  listening_ = false;
  if (!bind_port()) log(std::string("cannot hold the port: ") + std::strerror(errno));
  log("refusing connections on " + where());
}

void PeerServer::accept_clients() {
  for (;;) {
    sockaddr_storage from{};
    socklen_t size = sizeof from;
    int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&from), &size,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    auto client = std::make_unique<Client>();
    client->fd = fd;
    client->id = next_id_++;
    client->address = address_text(reinterpret_cast<sockaddr*>(&from), size);
    log("client " + std::to_string(client->id) + " connected from " + client->address);
    clients_.push_back(std::move(client));
  }
}

void PeerServer::read_client(Client& client) {
  char buffer[4096];
  for (;;) {
    ssize_t got = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (got > 0) {
      client.in.append(buffer, static_cast<size_t>(got));
      size_t end;
      while (!client.ended && (end = client.in.find("\r\n")) != std::string::npos) {
        std::string line = client.in.substr(0, end + 2);
        client.in.erase(0, end + 2);
        handle_line(client, line);
      }
      if (!client.ended && client.in.size() > kMaxLine) {
        log("client " + std::to_string(client.id) + " recv " + show(client.in.substr(0, 64)) +
            "... (" + std::to_string(client.in.size()) + " bytes without a line end, dropped)");
        client.in.clear();
      }
      if (client.ended) return;
      continue;
    }
    if (got == 0) return end_by_client(client, "closed by client");
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    if (errno == EINTR) continue;
    return end_by_client(client, errno == ECONNRESET
                                     ? "reset by client"
                                     : std::string("error: ") + std::strerror(errno));
  }
}

void PeerServer::handle_line(Client& client, std::string_view line) {
  const std::string who = "client " + std::to_string(client.id);
  log(who + " recv " + show(line));
  ++client.lines;
  if (auto pairs = read_values_line(line)) {
    for (const Pair& pair : *pairs) values_[pair.first] = pair.second;
    if (!client.registered) {
      client.registered = true;
      log(who + " registered " + std::to_string(pairs->size()) + " variable(s)");
      if (!options_.send_pairs.empty())
        send_to(client, values_line(*parse_pairs(options_.send_pairs)));
    }
  } else if (line.starts_with("Arn.Resp:")) {
    log(who + " bad values line");
  }
  if (options_.reset_after > 0 && client.lines >= options_.reset_after) {
    end_client(client, "reset", true);
  } else if (options_.drop_after > 0 && client.lines >= options_.drop_after) {
    end_client(client, "dropped", false);
  }
}

void PeerServer::send_to(Client& client, std::string_view bytes) {
  if (client.ended) return;
  log("client " + std::to_string(client.id) + " sent " + show(bytes));
  client.out.append(bytes);
  flush(client);
}

void PeerServer::flush(Client& client) {
  while (!client.out.empty()) {
    ssize_t sent =
        ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      client.out.erase(0, static_cast<size_t>(sent));
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;  // the rest goes when the socket can take it
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else {
      return end_by_client(client, "gone: " + std::string(std::strerror(errno)));
    }
  }
}

bool PeerServer::send_all(std::string_view bytes) {
  bool any = false;
  for (auto& client : clients_) {
    if (client->ended) continue;
    send_to(*client, bytes);
    any = true;
  }
  if (!any) log("no client connected: nothing sent");
  return any;
}

void PeerServer::end_client(Client& client, const std::string& how, bool reset) {
  if (client.ended) return;
  if (reset) {
    // No lingering: close() then sends RST instead of an orderly FIN.
    linger hard{1, 0};
    ::setsockopt(client.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  } else {
    flush(client);
    if (client.ended) return;
    ::shutdown(client.fd, SHUT_WR);
  }
  ::close(client.fd);
  client.ended = true;
  log("client " + std::to_string(client.id) + " " + how);
}

void PeerServer::end_by_client(Client& client, const std::string& how) {
  if (client.ended) return;
  const std::string who = "client " + std::to_string(client.id);
  // What came without a line end (the goodbye "Arn.Fin:" does) is shown now.
  if (!client.in.empty()) log(who + " recv " + show(client.in) + " (no line end)");
  ::close(client.fd);
  client.ended = true;
  log(who + " " + how);
}

void PeerServer::read_commands() {
  char buffer[1024];
  ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (got <= 0) {
    stdin_open_ = false;  // no more commands; the server goes on
    return;
  }
  commands_.append(buffer, static_cast<size_t>(got));
  size_t end;
  while (!quit_ && (end = commands_.find('\n')) != std::string::npos) {
    std::string line = commands_.substr(0, end);
    commands_.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    command(line);
  }
}

void PeerServer::command(const std::string& line) {
  const size_t space = line.find(' ');
  const std::string verb = line.substr(0, space);
  const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
  if (verb.empty()) return;
  if (verb == "send") {
    auto pairs = parse_pairs(rest);
    if (!pairs) return log("send needs pairs like 256=12150");
    for (const Pair& pair : *pairs) values_[pair.first] = pair.second;
    send_all(values_line(*pairs));
  } else if (verb == "raw") {
    send_all(unescape(rest));
  } else if (verb == "keepalive") {
    send_all(kKeepAlive);
  } else if (verb == "values") {
    std::string text = "values";
    for (const auto& [number, value] : values_) {
      text += " " + std::to_string(number) + "=" + std::to_string(value);
    }
    log(values_.empty() ? "values (none)" : text);
  } else if (verb == "status") {
    size_t open = 0;
    for (auto& client : clients_) open += client->ended ? 0 : 1;
    log("status: " + std::to_string(open) + " client(s), " +
        (listening_ ? "listening on " : "refusing connections on ") + where());
  } else if (verb == "drop" || verb == "reset") {
    for (auto& client : clients_)
      end_client(*client, verb == "drop" ? "dropped" : "reset", verb == "reset");
  } else if (verb == "refuse" && (rest == "on" || rest == "off")) {
    rest == "on" ? stop_listening() : start_listening();
  } else if (verb == "quit") {
    quit_ = true;
  } else if (verb == "help") {
    log(std::string("commands:\n") + kCommands);
  } else {
    log("unknown command: " + line + " (help lists the commands)");
  }
}

int PeerServer::run() {
  start_ = std::chrono::steady_clock::now();
  ::signal(SIGPIPE, SIG_IGN);
  struct sigaction stop {};
  stop.sa_handler = on_stop_signal;
  ::sigaction(SIGINT, &stop, nullptr);
  ::sigaction(SIGTERM, &stop, nullptr);
  // The stop signals are let through only while waiting, so none is missed.
  sigset_t blocked, waiting;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, &waiting);
  sigdelset(&waiting, SIGINT);
  sigdelset(&waiting, SIGTERM);

  addrinfo hints{}, *found = nullptr;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  const std::string port = std::to_string(options_.port);
  if (int rc = ::getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    std::fprintf(stderr, "zemp-peer: %s: %s\n", options_.host.c_str(), gai_strerror(rc));
    return 1;
  }
  std::memcpy(&address_, found->ai_addr, found->ai_addrlen);
  address_size_ = found->ai_addrlen;
  ::freeaddrinfo(found);
  if (!bind_port()) {
    std::fprintf(stderr, "zemp-peer: cannot use %s:%s: %s\n", options_.host.c_str(), port.c_str(),
                 std::strerror(errno));
    return 1;
  }
  if (options_.refuse) {
    log("refusing connections on " + where());
  } else {
    start_listening();
    if (!listening_) return 1;
  }

  const auto period = std::chrono::seconds(options_.keepalive_seconds);
  next_keepalive_ = start_ + period;
  while (!quit_ && !g_stop) {
    std::vector<pollfd> fds;
    if (listening_) fds.push_back({listen_fd_, POLLIN, 0});
    if (stdin_open_) fds.push_back({STDIN_FILENO, POLLIN, 0});
    for (auto& client : clients_) {
      fds.push_back(
          {client->fd, static_cast<short>(POLLIN | (client->out.empty() ? 0 : POLLOUT)), 0});
    }
    timespec wait{}, *timeout = nullptr;
    if (options_.keepalive_seconds > 0) {
      auto left = std::max(next_keepalive_ - std::chrono::steady_clock::now(),
                           std::chrono::steady_clock::duration::zero());
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      wait.tv_sec = static_cast<time_t>(ns / 1000000000);
      wait.tv_nsec = static_cast<long>(ns % 1000000000);
      timeout = &wait;
    }
    if (::ppoll(fds.data(), fds.size(), timeout, &waiting) < 0 && errno != EINTR) {
      log(std::string("poll failed: ") + std::strerror(errno));
      return 1;
    }
    if (g_stop) break;
    if (options_.keepalive_seconds > 0 && std::chrono::steady_clock::now() >= next_keepalive_) {
      next_keepalive_ += period;
      for (auto& client : clients_) send_to(*client, kKeepAlive);
    }
    size_t at = 0;
    if (listening_ && (fds[at++].revents & POLLIN)) accept_clients();
    if (stdin_open_ && (fds[at++].revents & (POLLIN | POLLHUP))) read_commands();
    // Clients accepted in this round have no entry yet; they are polled next round.
    for (size_t i = 0; at < fds.size() && i < clients_.size(); ++i, ++at) {
      Client& client = *clients_[i];
      if (client.ended || client.fd != fds[at].fd) continue;
      if (fds[at].revents & POLLOUT) flush(client);
      if (fds[at].revents & (POLLIN | POLLHUP | POLLERR)) read_client(client);
    }
    std::erase_if(clients_, [](const auto& client) { return client->ended; });
  }
  log("stopped");
  return 0;
}

}  // namespace zemp_peer
