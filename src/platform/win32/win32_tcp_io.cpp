// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_tcp_io.h"

#include <cstring>
#include <thread>

#include "platform/win32/win32_main_thread.h"

namespace tarvion {

namespace {

constexpr UINT kSocketEvent = WM_APP + 10;  // WSAAsyncSelect
constexpr UINT kResolved = WM_APP + 11;     // a name look-up ended; lParam owns a Lookup
constexpr UINT kPosted = WM_APP + 12;       // one posted call to run
constexpr UINT kReadOn = WM_APP + 13;       // wParam: the socket whose end is still to be read

struct Lookup {
  uint64_t lookup = 0;
  std::vector<NetAddress> addresses;
  int error = 0;
};

// Every address of host:port, in the resolver's order.
int resolve_now(const std::string& host, int32_t port, bool numeric_only,
                std::vector<NetAddress>& addresses) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | (numeric_only ? AI_NUMERICHOST : 0);
  addrinfo* found = nullptr;
  int error = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (error != 0) return error;
  for (addrinfo* a = found; a; a = a->ai_next) {
    NetAddress address;
    if (a->ai_addrlen > address.bytes.size()) continue;
    memcpy(address.bytes.data(), a->ai_addr, a->ai_addrlen);
    address.length = a->ai_addrlen;
    addresses.push_back(address);
  }
  freeaddrinfo(found);
  return addresses.empty() ? WSAHOST_NOT_FOUND : 0;
}

std::optional<SocketError> lookup_error(int error) {
  if (error == 0) return std::nullopt;
  if (error == WSATRY_AGAIN || error == EAI_NONAME) return SocketError::host_not_found;
  return map_winsock_error(error);
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

Win32TcpIo::Win32TcpIo() {
  WSADATA data;
  winsock_ready_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  hwnd_ = create_message_window(L"TarvionTcpIo", window_proc, this);
}

Win32TcpIo::~Win32TcpIo() {
  close_socket();
  if (hwnd_) DestroyWindow(hwnd_);
  if (winsock_ready_) WSACleanup();
}

void Win32TcpIo::post(std::function<void()> fn) {
  posted_.push_back(std::move(fn));
  PostMessageW(hwnd_, kPosted, 0, 0);
}

void Win32TcpIo::resolve(const std::string& host, int32_t port, uint64_t lookup) {
  std::vector<NetAddress> addresses;
  if (resolve_now(host, port, true, addresses) == 0) {
    post([this, lookup, addresses = std::move(addresses)]() mutable {
      if (handlers_.resolved) handlers_.resolved(lookup, std::move(addresses), std::nullopt);
    });
    return;
  }
  // A name: the resolver may block for seconds, so it runs on a thread of its
  // own that hands the answer back as a message. The thread holds Winsock
  // itself, so the program's WSACleanup at exit cannot pull it from under a
  // getaddrinfo still running.
  auto* answer = new Lookup{lookup, {}, 0};
  HWND hwnd = hwnd_;
  try {
    std::thread([answer, hwnd, host, port] {
      WSADATA data;
      bool own = WSAStartup(MAKEWORD(2, 2), &data) == 0;
      answer->error = own ? resolve_now(host, port, false, answer->addresses) : WSANOTINITIALISED;
      if (!PostMessageW(hwnd, kResolved, 0, reinterpret_cast<LPARAM>(answer))) delete answer;
      if (own) WSACleanup();
    }).detach();
  } catch (const std::system_error&) {
    delete answer;
    post([this, lookup] {
      if (handlers_.resolved) handlers_.resolved(lookup, {}, SocketError::other);
    });
  }
}

std::optional<SocketError> Win32TcpIo::connect(const NetAddress& address) {
  close_socket();
  const auto* sa = reinterpret_cast<const sockaddr*>(address.bytes.data());
  SOCKET s = socket(sa->sa_family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return map_winsock_error(WSAGetLastError());
  // Also makes the socket non-blocking.
  if (WSAAsyncSelect(s, hwnd_, kSocketEvent, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    int error = WSAGetLastError();
    closesocket(s);
    return map_winsock_error(error);
  }
  BOOL no_delay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
             sizeof no_delay);
  if (::connect(s, sa, static_cast<int>(address.length)) != 0 &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    int error = WSAGetLastError();
    WSAAsyncSelect(s, hwnd_, 0, 0);
    closesocket(s);
    return map_winsock_error(error);
  }
  socket_ = s;  // FD_CONNECT tells how it ends
  connect_result_.reset();
  peer_closed_ = false;
  return std::nullopt;
}

TcpIo::ConnectOutcome Win32TcpIo::connect_outcome() {
  if (!connect_result_) return {false, std::nullopt};
  if (*connect_result_ != 0) return {true, map_winsock_error(*connect_result_)};
  return {true, std::nullopt};
}

IoResult Win32TcpIo::send(std::string_view bytes) {
  int n = ::send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0);
  if (n >= 0) return {IoResult::Status::done, static_cast<std::size_t>(n)};
  int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return {IoResult::Status::would_block};
  return {IoResult::Status::failed, 0, map_winsock_error(error)};
}

IoResult Win32TcpIo::receive(char* buffer, std::size_t size) {
  int n = recv(socket_, buffer, static_cast<int>(size), 0);
  if (n > 0) return {IoResult::Status::done, static_cast<std::size_t>(n)};
  if (n == 0) return {IoResult::Status::ended};
  int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return {IoResult::Status::would_block};
  return {IoResult::Status::failed, 0, map_winsock_error(error)};
}

void Win32TcpIo::stop_events() {
  // The socket stays non-blocking; queued messages are recognised as stale.
  if (socket_ != INVALID_SOCKET) WSAAsyncSelect(socket_, hwnd_, 0, 0);
}

bool Win32TcpIo::wait(bool for_write, std::chrono::milliseconds bound) {
  if (bound.count() <= 0 || socket_ == INVALID_SOCKET) return false;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket_, &set);
  long ms = static_cast<long>(bound.count());
  timeval limit{ms / 1000, (ms % 1000) * 1000};
  return select(0, for_write ? nullptr : &set, for_write ? &set : nullptr, nullptr, &limit) > 0;
}

void Win32TcpIo::shutdown_send() { shutdown(socket_, SD_SEND); }

void Win32TcpIo::close_socket() {
  if (socket_ == INVALID_SOCKET) return;
  // Unhooked first: no message of this socket is sent after this point, and
  // any already queued is recognised as stale by its socket value.
  WSAAsyncSelect(socket_, hwnd_, 0, 0);
  closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

void Win32TcpIo::signal_ready(SOCKET s) {
  if (handlers_.ready) handlers_.ready();
  // After FD_CLOSE nothing more may come on its own, yet a read is bounded:
  // come back through the queue (behind other messages) until the end is read.
  if (peer_closed_ && s == socket_) PostMessageW(hwnd_, kReadOn, static_cast<WPARAM>(s), 0);
}

void Win32TcpIo::on_socket_event(SOCKET s, WORD event, WORD error) {
  if (s != socket_) return;  // a socket dropped since
  switch (event) {
    case FD_CONNECT:
      connect_result_ = error;
      if (handlers_.ready) handlers_.ready();
      return;
    case FD_CLOSE:
      peer_closed_ = true;
      signal_ready(s);
      return;
    default:  // FD_READ, FD_WRITE
      if (handlers_.ready) handlers_.ready();
      return;
  }
}

LRESULT CALLBACK Win32TcpIo::window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = message_window_owner<Win32TcpIo>(hwnd);
  switch (message) {
    case kSocketEvent:
      if (self) {
        self->on_socket_event(static_cast<SOCKET>(wparam), WSAGETSELECTEVENT(lparam),
                              WSAGETSELECTERROR(lparam));
      }
      return 0;
    case kReadOn:
      if (self && static_cast<SOCKET>(wparam) == self->socket_) {
        self->signal_ready(self->socket_);
      }
      return 0;
    case kResolved: {
      auto* answer = reinterpret_cast<Lookup*>(lparam);
      if (self && self->handlers_.resolved) {
        self->handlers_.resolved(answer->lookup, std::move(answer->addresses),
                                 lookup_error(answer->error));
      }
      delete answer;
      return 0;
    }
    case kPosted:
      if (self && !self->posted_.empty()) {
        auto fn = std::move(self->posted_.front());
        self->posted_.pop_front();
        fn();
      }
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

}  // namespace tarvion
