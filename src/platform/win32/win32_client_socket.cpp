// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_client_socket.h"

#include <thread>

#include "platform/win32/win32_main_thread.h"

namespace tarvion {

namespace {

constexpr UINT kSocketEvent = WM_APP + 10;  // WSAAsyncSelect
constexpr UINT kResolved = WM_APP + 11;     // a name look-up ended; lParam owns a Lookup
constexpr UINT kPosted = WM_APP + 12;       // one posted event to run
// The goodbye at close gets this long to leave, whatever the peer does.
constexpr DWORD kGoodbyeMs = 250;
// A peer that lets this much of what we sent pile up unread is taken as dead:
// the connection ends as a failure and the link reconnects.
constexpr std::size_t kSendQueueLimit = 256 * 1024;

// Waits until the socket is writable (or readable) or the deadline passes.
bool wait_for(SOCKET s, bool write, DWORD deadline) {
  LONG left = static_cast<LONG>(deadline - GetTickCount());
  if (left <= 0) return false;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait{left / 1000, (left % 1000) * 1000};
  return select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &wait) > 0;
}

struct Lookup {
  uint64_t attempt = 0;
  std::vector<sockaddr_storage> addresses;
  int error = 0;
};

// Every address of host:port, in the resolver's order.
int resolve(const std::string& host, int32_t port, bool numeric_only,
            std::vector<sockaddr_storage>& addresses) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | (numeric_only ? AI_NUMERICHOST : 0);
  addrinfo* found = nullptr;
  int error = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (error != 0) return error;
  for (addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    sockaddr_storage address{};
    memcpy(&address, a->ai_addr, a->ai_addrlen);
    addresses.push_back(address);
  }
  freeaddrinfo(found);
  return addresses.empty() ? WSAHOST_NOT_FOUND : 0;
}

}  // namespace

SocketError map_winsock_error(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return SocketError::refused;
    case WSAETIMEDOUT:
      return SocketError::timed_out;
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
    case WSATRY_AGAIN:
      return SocketError::host_not_found;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET:
      return SocketError::reset;
    default:
      return SocketError::other;
  }
}

Win32ClientSocket::Win32ClientSocket() {
  WSADATA data;
  winsock_ready_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  hwnd_ = create_message_window(L"TarvionClientSocket", window_proc, this);
}

Win32ClientSocket::~Win32ClientSocket() {
  // No event may reach the logic while the socket goes away.
  events_ = {};
  drop_socket();
  if (hwnd_) DestroyWindow(hwnd_);
  if (winsock_ready_) WSACleanup();
}

void Win32ClientSocket::post(std::function<void()> fn) {
  posted_.emplace_back(attempt_, std::move(fn));
  PostMessageW(hwnd_, kPosted, 0, 0);
}

void Win32ClientSocket::run_posted() {
  if (posted_.empty()) return;
  auto [attempt, fn] = std::move(posted_.front());
  posted_.pop_front();
  if (attempt == attempt_) fn();
}

void Win32ClientSocket::drop_socket() {
  if (socket_ == INVALID_SOCKET) return;
  // Unhooked first: no message of this socket is sent after this point, and
  // any already queued is recognised as stale by its socket value.
  WSAAsyncSelect(socket_, hwnd_, 0, 0);
  closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

void Win32ClientSocket::open() {
  // A new attempt replaces whatever the socket was doing, as a fresh connect would.
  ++attempt_;
  drop_socket();
  connected_ = false;
  active_ = false;
  received_.clear();
  unsent_.clear();
  addresses_.clear();
  if (!winsock_ready_ || !hwnd_ || port_ < 0 || port_ > 65535) {
    post([this] { report_attempt_failed(SocketError::other); });
    return;
  }
  std::vector<sockaddr_storage> addresses;
  if (resolve(host_, port_, true, addresses) == 0) {
    uint64_t attempt = attempt_;
    post([this, attempt, addresses = std::move(addresses)]() mutable {
      resolved(attempt, std::move(addresses), 0);
    });
    return;
  }
  // A name: the resolver may block for seconds, so it runs on a thread of its
  // own that hands the answer back as a message.
  auto lookup = new Lookup{attempt_, {}, 0};
  HWND hwnd = hwnd_;
  std::thread([lookup, hwnd, host = host_, port = port_] {
    lookup->error = resolve(host, port, false, lookup->addresses);
    if (!PostMessageW(hwnd, kResolved, 0, reinterpret_cast<LPARAM>(lookup))) delete lookup;
  }).detach();
}

void Win32ClientSocket::resolved(uint64_t attempt, std::vector<sockaddr_storage> addresses,
                                 int error) {
  if (attempt != attempt_) return;
  if (error != 0) {
    report_attempt_failed(error == WSATRY_AGAIN
                              ? SocketError::host_not_found
                              : map_winsock_error(error == EAI_NONAME ? WSAHOST_NOT_FOUND : error));
    return;
  }
  addresses_ = std::move(addresses);
  connect_next();
}

void Win32ClientSocket::connect_next() {
  int last_error = WSAEADDRNOTAVAIL;
  while (!addresses_.empty()) {
    sockaddr_storage address = addresses_.front();
    addresses_.erase(addresses_.begin());
    SOCKET s = socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
      last_error = WSAGetLastError();
      continue;
    }
    // Also makes the socket non-blocking.
    if (WSAAsyncSelect(s, hwnd_, kSocketEvent, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
      last_error = WSAGetLastError();
      closesocket(s);
      continue;
    }
    BOOL no_delay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
               sizeof no_delay);
    int length = address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), length) == 0 ||
        WSAGetLastError() == WSAEWOULDBLOCK) {
      socket_ = s;  // FD_CONNECT tells how it ends
      return;
    }
    last_error = WSAGetLastError();
    WSAAsyncSelect(s, hwnd_, 0, 0);
    closesocket(s);
  }
  report_attempt_failed(map_winsock_error(last_error));
}

void Win32ClientSocket::report_attempt_failed(SocketError error) {
  if (events_.on_error) events_.on_error(error, false);
}

void Win32ClientSocket::close() {
  ++attempt_;  // events of the closed connection are not delivered
  bool was_connected = connected_;
  active_ = false;
  connected_ = false;
  addresses_.clear();
  if (!was_connected || socket_ == INVALID_SOCKET) {
    drop_socket();
    return;
  }
  // What was sent last (the goodbye) must leave before the socket closes, and
  // input already here is taken first, so that the close is an orderly one
  // and not a reset that could destroy the goodbye at the peer.
  WSAAsyncSelect(socket_, hwnd_, 0, 0);  // the socket stays non-blocking
  DWORD deadline = GetTickCount() + kGoodbyeMs;
  std::size_t sent = 0;
  while (sent < unsent_.size()) {
    int n = send(socket_, unsent_.data() + sent, static_cast<int>(unsent_.size() - sent), 0);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (WSAGetLastError() != WSAEWOULDBLOCK || !wait_for(socket_, true, deadline)) {
      break;
    }
  }
  bool all_sent = sent == unsent_.size();
  unsent_.clear();
  if (all_sent) {
    shutdown(socket_, SD_SEND);
    // Until the peer closes too: a flooding peer is cut off by the deadline.
    char discard[4096];
    for (;;) {
      int n = recv(socket_, discard, sizeof discard, 0);
      if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) break;
      if (n < 0 && !wait_for(socket_, false, deadline)) break;
    }
  }
  closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

void Win32ClientSocket::send_text(std::string_view text) {
  // Also after the connection ended and before the logic has heard of it.
  if (!active_ || !connected_) return;
  unsent_.append(text);
  flush();
  if (connected_ && unsent_.size() > kSendQueueLimit) {
    // The peer stopped reading: told from the message loop, never from inside send_text.
    connected_ = false;
    unsent_.clear();
    drop_socket();
    post([this] { report_end(SocketError::other); });
  }
}

void Win32ClientSocket::flush() {
  while (!unsent_.empty() && connected_) {
    int n = send(socket_, unsent_.data(), static_cast<int>(unsent_.size()), 0);
    if (n > 0) {
      unsent_.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return;  // FD_WRITE sends the rest
    // A failed send ends the connection; told from the message loop, never
    // from inside send_text.
    connected_ = false;
    SocketError mapped = map_winsock_error(error);
    post([this, mapped] { report_end(mapped); });
    return;
  }
}

std::string Win32ClientSocket::receive_text() {
  std::string text;
  text.swap(received_);
  return text;
}

void Win32ClientSocket::read_available() {
  char buffer[4096];
  bool got = false;
  for (;;) {
    int n = recv(socket_, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    received_.append(buffer, static_cast<std::size_t>(n));
    got = true;
  }
  if (got && active_ && events_.on_read) events_.on_read();
}

void Win32ClientSocket::report_end(std::optional<SocketError> error) {
  if (!active_) return;  // the logic never heard of this connection
  active_ = false;
  if (!error) {
    if (events_.on_disconnect) events_.on_disconnect();
  } else if (events_.on_error) {
    events_.on_error(*error, true);
  }
}

void Win32ClientSocket::on_socket_event(SOCKET s, WORD event, WORD error) {
  if (s != socket_) return;  // a socket dropped since
  switch (event) {
    case FD_CONNECT:
      if (error != 0) {
        WSAAsyncSelect(socket_, hwnd_, 0, 0);
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
        if (!addresses_.empty()) {
          connect_next();
        } else {
          report_attempt_failed(map_winsock_error(error));
        }
        return;
      }
      connected_ = true;
      active_ = true;
      if (events_.on_connect) events_.on_connect();
      return;
    case FD_READ:
      if (connected_) read_available();
      return;
    case FD_WRITE:
      flush();
      return;
    case FD_CLOSE: {
      if (!connected_) return;  // a failed send was reported already
      // What arrived before the close is still the peer's to say.
      read_available();
      if (s != socket_ || !connected_) return;  // the logic closed or reopened meanwhile
      connected_ = false;
      drop_socket();
      report_end(error == 0 ? std::nullopt : std::optional(map_winsock_error(error)));
      return;
    }
    default:
      return;
  }
}

LRESULT CALLBACK Win32ClientSocket::window_proc(HWND hwnd, UINT message, WPARAM wparam,
                                                LPARAM lparam) {
  auto* self = message_window_owner<Win32ClientSocket>(hwnd);
  switch (message) {
    case kSocketEvent:
      if (self) {
        self->on_socket_event(static_cast<SOCKET>(wparam), WSAGETSELECTEVENT(lparam),
                              WSAGETSELECTERROR(lparam));
      }
      return 0;
    case kResolved: {
      auto* lookup = reinterpret_cast<Lookup*>(lparam);
      if (self) self->resolved(lookup->attempt, std::move(lookup->addresses), lookup->error);
      delete lookup;
      return 0;
    }
    case kPosted:
      if (self) self->run_posted();
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

}  // namespace tarvion
