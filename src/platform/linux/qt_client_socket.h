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

// A peer that lets this much of what we sent pile up unread is taken as dead:
// the connection ends as a failure and the link reconnects.
inline constexpr qint64 kZempSendQueueLimit = 256 * 1024;
// How long the goodbye may take to leave at close, whatever the peer does.
inline constexpr int kZempGoodbyeMs = 250;

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
  // Bytes sent by the logic that the system has not taken yet.
  qint64 unsent_bytes() const { return socket_.bytesToWrite(); }

 private:
  // Runs fn from the event loop unless the attempt it belongs to was closed or
  // replaced in the meantime.
  void post(std::function<void()> fn);
  void on_connected();
  void on_disconnected();
  void on_ready_read();
  void on_error(QAbstractSocket::SocketError error);
  // The peer stopped reading: the connection is dropped as a failure.
  void drop_unread_peer();
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
