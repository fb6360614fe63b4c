// The ZEMP link's TCP client on Linux: a QTcpSocket whose events reach the
// logic from the Qt event loop, never from inside open(), send_text() or close().
// Each established connection's end is reported once, in order or by error.
#pragma once

// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include <QAbstractSocket>
#include <QObject>
#include <QTcpSocket>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "zemp/client_socket.h"

namespace tarvion {

// Qt's socket errors as the logic names them.
SocketError map_socket_error(QAbstractSocket::SocketError error);

class QtClientSocket : public ClientSocket {
 public:
  QtClientSocket();
  ~QtClientSocket() override;

  void set_host(const std::string& host) override { host_ = host; }
  void set_port(int32_t port) override { port_ = port; }
  void open() override;
  void close() override;
  bool is_active() const override { return active_; }
  void send_text(std::string_view text) override;
  std::string receive_text() override;
  void set_events(ClientSocketEvents events) override { events_ = std::move(events); }

 private:
  // Runs fn from the event loop unless the attempt it belongs to was closed or
  // replaced in the meantime.
  void post(std::function<void()> fn);
  void on_connected();
  void on_disconnected();
  void on_ready_read();
  void on_error(QAbstractSocket::SocketError error);
  // Tells the logic that its connection ended: in order (no error) or by error.
  void report_end(std::optional<SocketError> error);

  QObject context_;  // owns the posted calls: they die with the socket
  QTcpSocket socket_;
  std::string host_;
  int32_t port_ = 0;
  bool active_ = false;     // what the logic has been told: on_connect .. on_disconnect
  bool connected_ = false;  // the Qt socket's own view, ahead of active_
  uint64_t attempt_ = 0;    // bumped by open() and close()
  std::string received_;
  ClientSocketEvents events_;
};

}  // namespace tarvion
