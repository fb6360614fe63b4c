// The ZEMP link's TCP client on Windows: Winsock with WSAAsyncSelect, so
// connect, read, write and close events arrive as messages on the main thread.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "zemp/client_socket.h"

namespace tarvion {

// Winsock's error codes as the logic names them (10061 refused, ...).
SocketError map_winsock_error(int error);

class Win32ClientSocket : public ClientSocket {
 public:
  // Main thread (the one that runs the message loop).
  Win32ClientSocket();
  ~Win32ClientSocket() override;

  Win32ClientSocket(const Win32ClientSocket&) = delete;
  Win32ClientSocket& operator=(const Win32ClientSocket&) = delete;

  void set_host(const std::string& host) override { host_ = host; }
  void set_port(int32_t port) override { port_ = port; }
  void open() override;
  void close() override;
  bool is_active() const override { return active_; }
  void send_text(std::string_view text) override;
  std::string receive_text() override;
  void set_events(ClientSocketEvents events) override { events_ = std::move(events); }
  // Bytes sent by the logic that the system has not taken yet.
  std::size_t unsent_bytes() const { return unsent_.size(); }

 private:
  static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // Runs fn from the message loop unless its attempt was closed or replaced.
  void post(std::function<void()> fn);
  void run_posted();
  void resolved(uint64_t attempt, std::vector<sockaddr_storage> addresses, int error);
  void connect_next();
  void on_socket_event(SOCKET socket, WORD event, WORD error);
  void read_available();
  void flush();
  void drop_socket();
  // Tells the logic that its connection ended: in order (no error) or by error.
  void report_end(std::optional<SocketError> error);
  void report_attempt_failed(SocketError error);

  bool winsock_ready_ = false;
  HWND hwnd_ = nullptr;
  SOCKET socket_ = INVALID_SOCKET;
  std::string host_;
  int32_t port_ = 0;
  bool active_ = false;                      // what the logic has been told: on_connect .. its end
  bool connected_ = false;                   // Winsock's own view, ahead of active_
  uint64_t attempt_ = 0;                     // bumped by open() and close()
  std::vector<sockaddr_storage> addresses_;  // still to try for this attempt
  std::string received_;
  std::string unsent_;
  std::deque<std::pair<uint64_t, std::function<void()>>> posted_;
  ClientSocketEvents events_;
};

}  // namespace tarvion
