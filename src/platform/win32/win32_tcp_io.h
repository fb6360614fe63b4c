// The TCP client's system operations on Windows: Winsock with WSAAsyncSelect,
// so connect, read, write and close events arrive as messages on the main
// thread.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <winsock2.h>
#include <ws2tcpip.h>

#include <deque>
#include <functional>
#include <optional>

#include "zemp/tcp_connection.h"

namespace tarvion {

// Winsock's error codes as the logic names them (10061 refused, ...).
SocketError map_winsock_error(int error);

class Win32TcpIo : public TcpIo {
 public:
  // Main thread (the one that runs the message loop).
  Win32TcpIo();
  ~Win32TcpIo() override;
  Win32TcpIo(const Win32TcpIo&) = delete;
  Win32TcpIo& operator=(const Win32TcpIo&) = delete;

  void set_handlers(Handlers handlers) override { handlers_ = std::move(handlers); }
  bool usable() const override { return winsock_ready_ && hwnd_; }
  void resolve(const std::string& host, int32_t port, uint64_t lookup) override;
  std::optional<SocketError> connect(const NetAddress& address) override;
  ConnectOutcome connect_outcome() override;
  IoResult send(std::string_view bytes) override;
  IoResult receive(char* buffer, std::size_t size) override;
  void want_write(bool) override {}  // FD_WRITE comes after every send that would block
  void stop_events() override;
  bool wait(bool for_write, std::chrono::milliseconds bound) override;
  void shutdown_send() override;
  void close_socket() override;
  void post(std::function<void()> fn) override;

 private:
  static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void on_socket_event(SOCKET socket, WORD event, WORD error);
  void signal_ready(SOCKET socket);

  bool winsock_ready_ = false;
  HWND hwnd_ = nullptr;
  SOCKET socket_ = INVALID_SOCKET;
  std::optional<WORD> connect_result_;  // FD_CONNECT's error code, once it came
  bool peer_closed_ = false;            // FD_CLOSE came: read on until the end shows
  std::deque<std::function<void()>> posted_;
  Handlers handlers_;
};

}  // namespace tarvion
