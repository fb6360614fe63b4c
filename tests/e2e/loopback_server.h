// A TCP server on 127.0.0.1 playing the simulator's side: accepts the
// program's connection, reads its lines, talks back, resets or closes.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace tarvion::e2e {

using Ms = std::chrono::milliseconds;

class Connection {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Next CR LF line (without the CR LF), or nothing within the bound or at the end.
  std::optional<std::string> read_line(Ms bound);
  // Everything up to the peer's close; nothing if it has not closed within the bound.
  std::optional<std::string> read_to_end(Ms bound);
  void send(const std::string& text);
  // Ends the connection with a reset (no orderly close).
  void reset();
  int fd() const { return fd_; }

 private:
  bool fill(Ms bound);  // false at end or time-out
  int fd_;
  std::string pending_;
  bool eof_ = false;
};

class LoopbackServer {
 public:
  // Listens on a free port now (listening=false: only reserves the number,
  // so connections are refused until listen()).
  explicit LoopbackServer(bool listening = true);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  void listen();
  void stop_listening();
  std::unique_ptr<Connection> accept(Ms bound);

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace tarvion::e2e
