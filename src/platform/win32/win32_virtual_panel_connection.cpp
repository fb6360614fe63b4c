// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_virtual_panel_connection.h"

#include <ws2tcpip.h>

#include <cstdlib>

#include "platform/win32/win32_error_text.h"

namespace tarvion {

namespace {

constexpr DWORD kFinalFlushMs = 250;
constexpr int kConnectSliceMs = 50;

// Winsock stays started for as long as any connection lives.
struct WinsockUse {
  bool ready;
  WinsockUse() {
    WSADATA data;
    ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockUse() {
    if (ready) WSACleanup();
  }
};

}  // namespace

std::unique_ptr<Win32VirtualPanelConnection> Win32VirtualPanelConnection::connect(
    const PanelHostEndpoint& endpoint, MainThread& main_thread, std::string& error,
    const std::function<bool()>& give_up) {
  static WinsockUse winsock;
  if (!winsock.ready) {
    error = "Winsock cannot be started";
    return nullptr;
  }
  sockaddr_storage address{};
  int length = 0;
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
  SOCKET s = socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    error = "socket: " + win32_error_text(static_cast<DWORD>(WSAGetLastError()));
    return nullptr;
  }
  // Waited for in short slices: a host that does not accept must not keep the
  // program from hearing a close request meanwhile.
  u_long non_blocking = 1;
  ioctlsocket(s, FIONBIO, &non_blocking);
  int result =
      ::connect(s, reinterpret_cast<sockaddr*>(&address), length) == 0 ? 0 : WSAGetLastError();
  if (result == WSAEWOULDBLOCK) {
    result = WSAETIMEDOUT;
    for (int waited = 0; waited < kPanelHostConnectLimitMs; waited += kConnectSliceMs) {
      if (give_up && give_up()) {
        result = WSAEINTR;
        break;
      }
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s, &writable);
      FD_SET(s, &failed);
      timeval slice{0, kConnectSliceMs * 1000};
      int ready = select(0, nullptr, &writable, &failed, &slice);
      if (ready == SOCKET_ERROR) {
        result = WSAGetLastError();
        break;
      }
      if (ready > 0) {
        int size = sizeof result;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &size) != 0) {
          result = WSAGetLastError();
        }
        break;
      }
    }
  }
  if (result != 0) {
    error = "cannot reach the virtual panel host at " + endpoint.host + ":" +
            std::to_string(endpoint.port) + ": " + win32_error_text(static_cast<DWORD>(result));
    closesocket(s);
    return nullptr;
  }
  BOOL no_delay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
             sizeof no_delay);
  return std::unique_ptr<Win32VirtualPanelConnection>(
      new Win32VirtualPanelConnection(s, main_thread));
}

Win32VirtualPanelConnection::Win32VirtualPanelConnection(SOCKET socket, MainThread& main_thread)
    : socket_(socket),
      main_thread_(main_thread),
      link_([this](const std::string& line) { send_line(line); }) {
  socket_event_ = WSACreateEvent();
  wake_event_ = WSACreateEvent();
  // Readiness as an event; the socket becomes non-blocking: a send that finds
  // no room leaves the rest to the thread, which FD_WRITE wakes.
  WSAEventSelect(socket_, socket_event_, FD_READ | FD_WRITE | FD_CLOSE);
  link_.notifier().set_wake([this] { WSASetEvent(wake_event_); });
  thread_ = std::thread([this] { run(); });
}

Win32VirtualPanelConnection::~Win32VirtualPanelConnection() {
  stop_ = true;
  WSASetEvent(wake_event_);
  // The thread may be waiting for the main thread to take a notification.
  main_thread_.pump_until([this] { return ended_; });
  thread_.join();
  link_.notifier().set_wake({});
  // The last images (the dark ones of the close) get a short, fixed time to
  // leave; a host that does not read them by then loses them.
  DWORD deadline = GetTickCount() + kFinalFlushMs;
  for (;;) {
    std::lock_guard lock(send_mutex_);
    flush_locked();
    DWORD now = GetTickCount();
    if (backlog_.empty() || !connected_ || static_cast<LONG>(deadline - now) <= 0) break;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket_, &writable);
    timeval wait{0, static_cast<long>(deadline - now) * 1000};
    select(0, nullptr, &writable, nullptr, &wait);
  }
  closesocket(socket_);
  WSACloseEvent(socket_event_);
  WSACloseEvent(wake_event_);
}

void Win32VirtualPanelConnection::send_line(const std::string& line) {
  if (!connected_) return;
  bool waiting = false;
  {
    std::lock_guard lock(send_mutex_);
    backlog_.push(std::string(panel_line_device(line)), line + "\n");
    flush_locked();
    waiting = !backlog_.empty();
  }
  if (waiting) WSASetEvent(wake_event_);  // the thread waits for room
}

void Win32VirtualPanelConnection::flush_locked() {
  while (!backlog_.empty()) {
    std::string_view bytes = backlog_.next();
    int n = send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0);
    if (n > 0) {
      backlog_.consume(static_cast<std::size_t>(n));
      continue;
    }
    // No room: FD_WRITE comes when there is. Anything else: the reading side
    // notices the end and unplugs everything.
    if (WSAGetLastError() != WSAEWOULDBLOCK) backlog_.clear();
    return;
  }
}

void Win32VirtualPanelConnection::run() {
  char buffer[4096];
  WSAEVENT events[2] = {socket_event_, wake_event_};
  while (!stop_) {
    DWORD which = WSAWaitForMultipleEvents(connected_ ? 2 : 1, connected_ ? events : &wake_event_,
                                           FALSE, WSA_INFINITE, FALSE);
    if (which == WSA_WAIT_FAILED) break;
    if (stop_) break;
    WSAResetEvent(wake_event_);
    if (connected_) {
      WSANETWORKEVENTS happened{};
      WSAEnumNetworkEvents(socket_, socket_event_, &happened);
      {
        std::lock_guard lock(send_mutex_);
        flush_locked();
      }
      for (;;) {
        int n = recv(socket_, buffer, sizeof buffer, 0);
        if (n > 0) {
          link_.receive_bytes(std::string_view(buffer, static_cast<std::size_t>(n)));
          continue;
        }
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
          connected_ = false;
          {
            std::lock_guard lock(send_mutex_);
            backlog_.clear();
          }
          link_.connection_lost();
        }
        break;
      }
    }
    if (link_.notifier().pending() == 0) continue;
    try {
      main_thread_.run_and_wait([this] { link_.notifier().deliver_pending(); });
    } catch (...) {
      // A device change that failed on the main thread must not end the
      // connection: the next change lists the devices afresh.
    }
  }
  main_thread_.run_and_wait([this] { ended_ = true; });
}

std::unique_ptr<Win32VirtualPanelConnection> win32_virtual_panels_from_environment(
    MainThread& main_thread, std::string& error, const std::function<bool()>& give_up) {
  auto endpoint = panel_host_from_environment(error);
  if (!endpoint) return nullptr;
  return Win32VirtualPanelConnection::connect(*endpoint, main_thread, error, give_up);
}

}  // namespace tarvion
