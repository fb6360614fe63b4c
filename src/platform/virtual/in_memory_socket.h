// An in-memory ClientSocket for program tests and the demo. The test plays the
// ZEMP server ("the peer"): it answers attempts, sends text, reads what the
// program sent and ends connections; every happening is told as a transcript line.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/timer.h"
#include "zemp/client_socket.h"

namespace tarvion {

// Bytes as a quoted text with CR, LF, tab, quote, backslash and other control
// bytes written out: "Arn.Vivo:\r\n".
std::string show_wire_text(std::string_view bytes);

class InMemorySocket : public ClientSocket {
 public:
  // How attempts are answered without the test doing it by hand.
  enum class Answer { hold, accept, refuse, time_out, host_not_found };

  // What a network would report some time after the call that caused it (an
  // automatic answer, a failed send) arrives one timer interval (1 ms) later,
  // on a timer from timers; never from inside the program's own call.
  explicit InMemorySocket(TimerFactory& timers);
  ~InMemorySocket() override;

  // The program's side.
  void set_host(const std::string& host) override { host_ = host; }
  void set_port(int32_t port) override { port_ = port; }
  void open() override;
  void close() override;
  bool is_active() const override { return state_ == State::connected; }
  void send_text(std::string_view text) override;
  std::string receive_text() override;
  void set_events(ClientSocketEvents events) override { events_ = std::move(events); }

  // The peer's side. Each call delivers its event at once, on the calling
  // thread; calling one in a state where it cannot happen throws std::logic_error.
  void set_answer(Answer answer) { answer_ = answer; }  // for later attempts; default hold
  void peer_accept();                                   // the pending attempt connects
  void peer_refuse();                                   // ... is refused
  void peer_fail(SocketError error);                    // ... fails otherwise
  void peer_send(std::string_view bytes);
  void peer_close();   // orderly end
  void peer_reset();   // the connection ends with an error
  void peer_vanish();  // dead without notice: the next send fails

  bool attempt_pending() const { return state_ == State::connecting; }
  int attempts() const { return attempts_; }
  const std::string& host() const { return host_; }
  int32_t port() const { return port_; }
  // What the program sent since the last call.
  std::string take_sent();

  // One line per happening: "client connects", "peer accepts",
  // client > "Arn.Vivo:\r\n", peer > "...", "peer resets", "client closes".
  std::function<void(const std::string&)> on_wire;

 private:
  enum class State { idle, connecting, connected };
  void wire(const std::string& line);
  void later(std::function<void()> fn);
  void run_later();
  void require(State state, const char* action) const;
  void end_attempt();
  void fail_attempt(SocketError error, const std::string& line);

  ClientSocketEvents events_;
  std::unique_ptr<Timer> timer_;
  std::deque<std::function<void()>> later_;
  std::string host_;
  int32_t port_ = 0;
  State state_ = State::idle;
  bool vanished_ = false;
  bool send_failure_due_ = false;
  uint64_t generation_ = 0;  // bumped when an attempt or connection ends; stale work is skipped
  int attempts_ = 0;
  Answer answer_ = Answer::hold;
  std::string inbox_;
  std::string sent_;
};

}  // namespace tarvion
