// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include "platform/linux/qt_client_socket.h"

#include <sys/socket.h>

#include <QDeadlineTimer>
#include <QMetaObject>

namespace tarvion {

SocketError map_socket_error(QAbstractSocket::SocketError error) {
  switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
      return SocketError::refused;
    case QAbstractSocket::SocketTimeoutError:
      return SocketError::timed_out;
    case QAbstractSocket::HostNotFoundError:
      return SocketError::host_not_found;
    case QAbstractSocket::RemoteHostClosedError:
      return SocketError::reset;
    default:
      return SocketError::other;
  }
}

QtClientSocket::QtClientSocket() {
  QObject::connect(&socket_, &QTcpSocket::connected, &context_, [this] { on_connected(); });
  QObject::connect(&socket_, &QTcpSocket::disconnected, &context_, [this] { on_disconnected(); });
  QObject::connect(&socket_, &QTcpSocket::readyRead, &context_, [this] { on_ready_read(); });
  QObject::connect(&socket_, &QTcpSocket::errorOccurred, &context_,
                   [this](QAbstractSocket::SocketError error) { on_error(error); });
}

QtClientSocket::~QtClientSocket() {
  // No event may reach the logic while the socket goes away.
  QObject::disconnect(&socket_, nullptr, &context_, nullptr);
  socket_.abort();
}

void QtClientSocket::post(std::function<void()> fn) {
  uint64_t attempt = attempt_;
  QMetaObject::invokeMethod(
      &context_,
      [this, attempt, fn = std::move(fn)] {
        if (attempt == attempt_) fn();
      },
      Qt::QueuedConnection);
}

void QtClientSocket::open() {
  // A new attempt replaces whatever the socket was doing, as a fresh connect would.
  ++attempt_;
  socket_.abort();
  connected_ = false;
  active_ = false;
  received_.clear();
  if (port_ < 0 || port_ > 65535) {
    // No such TCP port: say so as the OS would, from the event loop.
    post([this] {
      if (events_.on_error) events_.on_error(SocketError::other, false);
    });
    return;
  }
  socket_.connectToHost(QString::fromStdString(host_), static_cast<quint16>(port_));
}

void QtClientSocket::close() {
  ++attempt_;  // events of the closed connection are not delivered
  bool was_connected = connected_;
  active_ = false;
  connected_ = false;
  if (!was_connected) {
    socket_.abort();
    return;
  }
  // What was sent last (the goodbye) gets a short, fixed time to leave. Unread
  // input is taken and our side half-closed first, so that the close is an
  // orderly one, not a reset that could destroy the goodbye at the peer.
  QDeadlineTimer deadline(kZempGoodbyeMs);
  socket_.readAll();
  socket_.flush();
  while (socket_.bytesToWrite() > 0 && !deadline.hasExpired()) {
    if (!socket_.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) break;
  }
  if (socket_.bytesToWrite() == 0 && socket_.socketDescriptor() >= 0) {
    ::shutdown(static_cast<int>(socket_.socketDescriptor()), SHUT_WR);
    // A peer that floods keeps the receive side busy; the deadline ends it.
    while (socket_.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
      socket_.readAll();
      if (!socket_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) break;
    }
    socket_.readAll();
  }
  socket_.abort();
}

void QtClientSocket::send_text(std::string_view text) {
  // Also after the connection ended and before the logic has heard of it.
  if (!active_ || !connected_) return;
  socket_.write(text.data(), static_cast<qint64>(text.size()));
  // Sent at once: the server sees each message as the logic produced it.
  socket_.flush();
  if (socket_.bytesToWrite() > kZempSendQueueLimit) drop_unread_peer();
}

void QtClientSocket::drop_unread_peer() {
  ++attempt_;  // nothing more of this connection reaches the logic
  connected_ = false;
  socket_.abort();
  received_.clear();
  // Told from the event loop, never from inside send_text.
  post([this] { report_end(SocketError::other); });
}

std::string QtClientSocket::receive_text() {
  std::string text;
  text.swap(received_);
  return text;
}

void QtClientSocket::on_connected() {
  connected_ = true;
  post([this] {
    active_ = true;
    if (events_.on_connect) events_.on_connect();
  });
}

void QtClientSocket::on_disconnected() {
  // Only reached for an orderly end: an error that ended the connection was
  // reported by on_error already and cleared connected_.
  if (!connected_) return;
  connected_ = false;
  post([this] { report_end(std::nullopt); });
}

void QtClientSocket::report_end(std::optional<SocketError> error) {
  if (!active_) return;  // the logic never heard of this connection
  active_ = false;
  if (!error) {
    if (events_.on_disconnect) events_.on_disconnect();
  } else if (events_.on_error) {
    events_.on_error(*error, true);
  }
}

void QtClientSocket::on_ready_read() {
  // Taken now, so nothing is lost if the connection ends before the logic reads.
  QByteArray bytes = socket_.readAll();
  if (bytes.isEmpty()) return;
  received_.append(bytes.constData(), static_cast<size_t>(bytes.size()));
  post([this] {
    if (events_.on_read) events_.on_read();
  });
}

void QtClientSocket::on_error(QAbstractSocket::SocketError error) {
  if (connected_) {
    connected_ = false;
    // Qt reports the peer's orderly close as an error too; it is the normal
    // end of a connection. (Qt also reads a reset as that close; the link
    // handles both ends alike.)
    if (error == QAbstractSocket::RemoteHostClosedError) {
      post([this] { report_end(std::nullopt); });
    } else {
      SocketError mapped = map_socket_error(error);
      post([this, mapped] { report_end(mapped); });
    }
    return;
  }
  SocketError mapped = map_socket_error(error);
  post([this, mapped] {
    if (events_.on_error) events_.on_error(mapped, false);
  });
}

}  // namespace tarvion
