#include "platform/virtual/in_memory_socket.h"

#include <cstdio>
#include <stdexcept>

namespace tarvion {

namespace {

std::string error_name(SocketError error) {
  switch (error) {
    case SocketError::refused:
      return "connection refused";
    case SocketError::timed_out:
      return "timed out";
    case SocketError::host_not_found:
      return "host not found";
    case SocketError::reset:
      return "connection reset";
    case SocketError::other:
      break;
  }
  return "other error";
}

}  // namespace

std::string show_wire_text(std::string_view bytes) {
  std::string out = "\"";
  for (char c : bytes) {
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
          out += hex;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

InMemorySocket::InMemorySocket(TimerFactory& timers)
    : timer_(timers.make_timer(TThreadPriority::tpNormal)) {
  timer_->SetInterval(1);
  timer_->SetOnTimer([this] { run_later(); });
}

InMemorySocket::~InMemorySocket() {
  timer_.reset();
}

void InMemorySocket::wire(const std::string& line) {
  if (on_wire) on_wire(line);
}

void InMemorySocket::later(std::function<void()> fn) {
  later_.push_back(std::move(fn));
  timer_->SetEnabled(true);
}

void InMemorySocket::run_later() {
  timer_->SetEnabled(false);
  std::deque<std::function<void()>> due;
  due.swap(later_);
  for (auto& fn : due) fn();
}

void InMemorySocket::require(State state, const char* action) const {
  if (state_ != state) throw std::logic_error(std::string("in-memory socket: cannot ") + action);
}

void InMemorySocket::end_attempt() {
  state_ = State::idle;
  vanished_ = false;
  send_failure_due_ = false;
  inbox_.clear();
  ++generation_;
}

void InMemorySocket::open() {
  // A new attempt replaces whatever went on before, as the real backends do.
  end_attempt();
  state_ = State::connecting;
  ++attempts_;
  wire("client connects");
  if (answer_ == Answer::hold) return;
  later([this, generation = generation_] {
    if (generation != generation_ || state_ != State::connecting) return;
    switch (answer_) {
      case Answer::accept:
        peer_accept();
        break;
      case Answer::refuse:
        peer_refuse();
        break;
      case Answer::time_out:
        peer_fail(SocketError::timed_out);
        break;
      case Answer::host_not_found:
        peer_fail(SocketError::host_not_found);
        break;
      case Answer::hold:
        break;
    }
  });
}

void InMemorySocket::close() {
  if (state_ == State::idle) return;
  end_attempt();
  wire("client closes");
}

void InMemorySocket::send_text(std::string_view text) {
  if (state_ != State::connected) return;
  if (!vanished_) {
    sent_.append(text);
    wire("client > " + show_wire_text(text));
    return;
  }
  wire("client > " + show_wire_text(text) + " (lost)");
  if (send_failure_due_) return;
  send_failure_due_ = true;
  later([this, generation = generation_] {
    if (generation != generation_ || state_ != State::connected) return;
    end_attempt();
    wire("send fails: connection reset");
    if (events_.on_error) events_.on_error(SocketError::reset, true);
  });
}

std::string InMemorySocket::receive_text() {
  std::string text;
  text.swap(inbox_);
  return text;
}

std::string InMemorySocket::take_sent() {
  std::string text;
  text.swap(sent_);
  return text;
}

void InMemorySocket::peer_accept() {
  require(State::connecting, "accept: no attempt is pending");
  state_ = State::connected;
  wire("peer accepts");
  if (events_.on_connect) events_.on_connect();
}

void InMemorySocket::fail_attempt(SocketError error, const std::string& line) {
  require(State::connecting, "answer: no attempt is pending");
  end_attempt();
  wire(line);
  if (events_.on_error) events_.on_error(error, false);
}

void InMemorySocket::peer_refuse() {
  fail_attempt(SocketError::refused, "peer refuses");
}

void InMemorySocket::peer_fail(SocketError error) {
  fail_attempt(error, "attempt fails: " + error_name(error));
}

void InMemorySocket::peer_send(std::string_view bytes) {
  require(State::connected, "send: not connected");
  if (vanished_) throw std::logic_error("in-memory socket: a vanished peer sends nothing");
  inbox_.append(bytes);
  wire("peer > " + show_wire_text(bytes));
  if (events_.on_read) events_.on_read();
}

void InMemorySocket::peer_close() {
  require(State::connected, "close: not connected");
  end_attempt();
  wire("peer closes");
  if (events_.on_disconnect) events_.on_disconnect();
}

void InMemorySocket::peer_reset() {
  require(State::connected, "reset: not connected");
  end_attempt();
  wire("peer resets");
  if (events_.on_error) events_.on_error(SocketError::reset, true);
}

void InMemorySocket::peer_vanish() {
  require(State::connected, "vanish: not connected");
  vanished_ = true;
  wire("peer vanishes");
}

}  // namespace tarvion
