// The TCP client behind the ZEMP link, once for every platform. The rules of
// a connection live here: attempts and their numbering, the walk over a
// name's addresses, what the logic is told and when, the bound on what may
// pile up unsent, bounded reads, the goodbye at close. Each platform gives
// only a few I/O operations (TcpIo): Linux on its descriptor watcher,
// Windows on Winsock's window messages.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zemp/client_socket.h"

namespace tarvion {

// A socket address as the system gives it (sockaddr_storage's bytes).
struct NetAddress {
  std::array<unsigned char, 128> bytes{};
  std::size_t length = 0;
};

// The outcome of one non-blocking send or receive.
struct IoResult {
  enum class Status { done, would_block, ended, failed };
  Status status = Status::done;
  std::size_t bytes = 0;                  // done: how many
  SocketError error = SocketError::other;  // failed: why
};

// One platform's operations on one socket at a time. Main thread only.
class TcpIo {
 public:
  struct Handlers {
    // A look-up started by resolve() ended: the addresses, or why none.
    std::function<void(uint64_t lookup, std::vector<NetAddress> addresses,
                       std::optional<SocketError> error)>
        resolved;
    // The socket may have something: the connect ended, input, room to send
    // (while asked for), or its end. Level-triggered: comes again while it holds.
    std::function<void()> ready;
  };

  virtual ~TcpIo() = default;
  virtual void set_handlers(Handlers handlers) = 0;
  // False when the platform could not set up (no Winsock, no window).
  virtual bool usable() const { return true; }
  // Answers through handlers.resolved from the loop, never from inside the
  // call. A name may take seconds, so it is looked up aside.
  virtual void resolve(const std::string& host, int32_t port, uint64_t lookup) = 0;
  // Starts a non-blocking connect, replacing any socket; an error when it
  // failed at once.
  virtual std::optional<SocketError> connect(const NetAddress& address) = 0;
  // After ready() during a connect: nullopt while it is still under way, else
  // how it ended (SocketError only on failure; success is an empty error).
  struct ConnectOutcome {
    bool ended = false;
    std::optional<SocketError> error;
  };
  virtual ConnectOutcome connect_outcome() = 0;
  virtual IoResult send(std::string_view bytes) = 0;
  virtual IoResult receive(char* buffer, std::size_t size) = 0;
  // Ask for ready() when there is room to send.
  virtual void want_write(bool want) = 0;
  // For the goodbye: no readiness events until close_socket(), then blocking
  // waits with a bound.
  virtual void stop_events() = 0;
  virtual bool wait(bool for_write, std::chrono::milliseconds bound) = 0;
  virtual void shutdown_send() = 0;
  // No ready() for this socket after it returns; nothing when there is none.
  virtual void close_socket() = 0;
  // Runs fn from the loop, after the handler that is running.
  virtual void post(std::function<void()> fn) = 0;
};

class TcpConnection : public ClientSocket {
 public:
  // The goodbye at close gets this long to leave, whatever the peer does.
  static constexpr std::chrono::milliseconds kGoodbye{250};
  // A peer that lets this much of what we sent pile up unread is taken as
  // dead: the connection ends as a failure and the link reconnects.
  static constexpr std::size_t kSendQueueLimit = 256 * 1024;
  // Read per readiness event: a flooding peer costs this much memory at most,
  // and the loop gets back to the panels between batches.
  static constexpr std::size_t kReadBatch = 32 * 1024;

  explicit TcpConnection(std::unique_ptr<TcpIo> io);
  ~TcpConnection() override;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

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
  // Send calls made to the system since the start (answers to one batch go out together).
  uint64_t sends() const { return sends_; }

 private:
  enum class State { idle, resolving, connecting, connected };
  // Runs fn from the loop unless its attempt was closed or replaced since.
  void post(std::function<void()> fn);
  void resolved(uint64_t lookup, std::vector<NetAddress> addresses,
                std::optional<SocketError> error);
  void connect_next();
  void on_ready();
  void read_batch();
  void flush();
  void end_connection(std::optional<SocketError> error, bool from_loop);
  void report_end(std::optional<SocketError> error);
  void report_attempt_failed(SocketError error);

  std::unique_ptr<TcpIo> io_;
  std::string host_;
  int32_t port_ = 0;
  State state_ = State::idle;
  bool active_ = false;         // what the logic has been told: on_connect .. its end
  bool handling_read_ = false;  // sends wait until the batch is handled
  uint64_t attempt_ = 0;        // bumped by open() and close()
  std::vector<NetAddress> addresses_;  // still to try for this attempt
  SocketError last_connect_error_ = SocketError::other;
  std::string received_;
  std::string unsent_;
  uint64_t sends_ = 0;
  ClientSocketEvents events_;
};

}  // namespace tarvion
