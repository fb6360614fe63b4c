#include "zemp/tcp_connection.h"

namespace tarvion {

TcpConnection::TcpConnection(std::unique_ptr<TcpIo> io) : io_(std::move(io)) {
  io_->set_handlers(TcpIo::Handlers{
      [this](uint64_t lookup, std::vector<NetAddress> addresses, std::optional<SocketError> error) {
        resolved(lookup, std::move(addresses), error);
      },
      [this] { on_ready(); },
  });
}

TcpConnection::~TcpConnection() {
  // No event may reach the logic while the connection goes away.
  events_ = {};
  io_->close_socket();
}

void TcpConnection::post(std::function<void()> fn) {
  io_->post([this, attempt = attempt_, fn = std::move(fn)] {
    if (attempt == attempt_) fn();
  });
}

void TcpConnection::open() {
  // A new attempt replaces whatever the connection was doing, as a fresh connect would.
  ++attempt_;
  io_->close_socket();
  state_ = State::idle;
  active_ = false;
  received_.clear();
  unsent_.clear();
  addresses_.clear();
  if (port_ < 0 || port_ > 65535 || !io_->usable()) {
    post([this] { report_attempt_failed(SocketError::other); });
    return;
  }
  state_ = State::resolving;
  io_->resolve(host_, port_, attempt_);
}

void TcpConnection::resolved(uint64_t lookup, std::vector<NetAddress> addresses,
                             std::optional<SocketError> error) {
  // Only the latest attempt's answer counts.
  if (lookup != attempt_ || state_ != State::resolving) return;
  if (error) {
    state_ = State::idle;
    report_attempt_failed(*error);
    return;
  }
  addresses_ = std::move(addresses);
  last_connect_error_ = SocketError::other;
  connect_next();
}

void TcpConnection::connect_next() {
  while (!addresses_.empty()) {
    NetAddress address = addresses_.front();
    addresses_.erase(addresses_.begin());
    std::optional<SocketError> error = io_->connect(address);
    if (!error) {
      state_ = State::connecting;
      return;
    }
    last_connect_error_ = *error;
  }
  state_ = State::idle;
  report_attempt_failed(last_connect_error_);
}

void TcpConnection::report_attempt_failed(SocketError error) {
  if (events_.on_error) events_.on_error(error, false);
}

void TcpConnection::on_ready() {
  if (state_ == State::connecting) {
    TcpIo::ConnectOutcome outcome = io_->connect_outcome();
    if (!outcome.ended) return;
    if (outcome.error) {
      io_->close_socket();
      last_connect_error_ = *outcome.error;
      connect_next();  // the next address, or the attempt failed
      return;
    }
    state_ = State::connected;
    active_ = true;
    io_->want_write(false);
    if (events_.on_connect) events_.on_connect();
    return;
  }
  if (state_ != State::connected) return;
  if (!unsent_.empty()) {
    flush();
    if (state_ != State::connected) return;  // the send failed; reported from the loop
  }
  read_batch();
}

void TcpConnection::read_batch() {
  std::optional<std::optional<SocketError>> end;  // set: the connection ended (inner: why)
  std::size_t taken = 0;
  char buffer[8192];
  while (taken < kReadBatch) {
    IoResult r = io_->receive(buffer, sizeof buffer);
    if (r.status == IoResult::Status::done) {
      received_.append(buffer, r.bytes);
      taken += r.bytes;
      continue;
    }
    if (r.status == IoResult::Status::ended) end = std::optional<SocketError>{};
    if (r.status == IoResult::Status::failed) end = std::optional<SocketError>{r.error};
    break;
  }
  uint64_t attempt = attempt_;
  if (taken > 0 && active_ && events_.on_read) {
    // Whatever the logic answers to this batch leaves in one send, after it.
    struct Handling {
      bool& flag;
      explicit Handling(bool& f) : flag(f) { flag = true; }
      ~Handling() { flag = false; }
    } handling(handling_read_);
    events_.on_read();
  }
  if (attempt != attempt_ || state_ != State::connected) return;  // closed or reopened meanwhile
  if (!unsent_.empty()) {
    flush();
    if (state_ != State::connected) return;
    if (unsent_.size() > kSendQueueLimit) {
      end_connection(SocketError::other, true);
      return;
    }
  }
  // What arrived before the end was still the peer's to say.
  if (end) end_connection(*end, true);
}

void TcpConnection::send_text(std::string_view text) {
  // Also after the connection ended and before the logic has heard of it.
  if (!active_ || state_ != State::connected) return;
  unsent_.append(text);
  if (handling_read_) return;  // sent with the rest of the batch's answers
  flush();
  if (state_ == State::connected && unsent_.size() > kSendQueueLimit) {
    // The peer stopped reading: told from the loop, never from inside send_text.
    end_connection(SocketError::other, false);
  }
}

void TcpConnection::flush() {
  while (!unsent_.empty()) {
    IoResult r = io_->send(unsent_);
    ++sends_;
    if (r.status == IoResult::Status::done) {
      unsent_.erase(0, r.bytes);
      continue;
    }
    if (r.status == IoResult::Status::would_block) {
      io_->want_write(true);  // ready() sends the rest
      return;
    }
    // A failed send ends the connection, told from the loop.
    end_connection(r.status == IoResult::Status::failed ? r.error : SocketError::reset, false);
    return;
  }
  io_->want_write(false);
}

void TcpConnection::end_connection(std::optional<SocketError> error, bool from_loop) {
  state_ = State::idle;
  unsent_.clear();
  io_->close_socket();
  if (from_loop) {
    report_end(error);
  } else {
    post([this, error] { report_end(error); });
  }
}

void TcpConnection::report_end(std::optional<SocketError> error) {
  if (!active_) return;  // the logic never heard of this connection
  active_ = false;
  if (!error) {
    if (events_.on_disconnect) events_.on_disconnect();
  } else if (events_.on_error) {
    events_.on_error(*error, true);
  }
}

std::string TcpConnection::receive_text() {
  std::string text;
  text.swap(received_);
  return text;
}

void TcpConnection::close() {
  ++attempt_;  // events of the closed connection are not delivered
  bool was_connected = state_ == State::connected;
  active_ = false;
  state_ = State::idle;
  addresses_.clear();
  if (!was_connected) {
    io_->close_socket();
    unsent_.clear();
    return;
  }
  // What was sent last (the goodbye) must leave before the socket closes, and
  // input already here is taken first, so that the close is an orderly one and
  // not a reset that could destroy the goodbye at the peer.
  io_->stop_events();
  auto deadline = std::chrono::steady_clock::now() + kGoodbye;
  auto left = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
  };
  std::size_t sent = 0;
  while (sent < unsent_.size()) {
    IoResult r = io_->send(std::string_view(unsent_).substr(sent));
    if (r.status == IoResult::Status::done) {
      sent += r.bytes;
    } else if (r.status != IoResult::Status::would_block || left().count() <= 0 ||
               !io_->wait(true, left())) {
      break;
    }
  }
  bool all_sent = sent == unsent_.size();
  unsent_.clear();
  if (all_sent) {
    io_->shutdown_send();
    // Until the peer closes too: a flooding peer is cut off by the deadline.
    char discard[4096];
    for (;;) {
      IoResult r = io_->receive(discard, sizeof discard);
      if (r.status == IoResult::Status::done) {
        if (left().count() <= 0) break;
        continue;
      }
      if (r.status != IoResult::Status::would_block || left().count() <= 0 ||
          !io_->wait(false, left())) {
        break;
      }
    }
  }
  io_->close_socket();
}

}  // namespace tarvion
