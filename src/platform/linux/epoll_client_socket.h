// The ZEMP link's TCP client in the console program: a non-blocking socket on
// the epoll loop. Names are looked up on a thread of their own, since the
// resolver may block for seconds.
#pragma once

// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/epoll_loop.h"
#include "zemp/client_socket.h"

namespace tarvion {

// errno values (and the resolver's EAI_ codes, negative) as the logic names them.
SocketError map_errno(int error);

class EpollClientSocket : public ClientSocket {
 public:
  // The goodbye at close gets this long to leave, whatever the peer does.
  static constexpr int kGoodbyeMs = 250;
  // A peer that lets this much of what we sent pile up unread is taken as
  // dead: the connection ends as a failure and the link reconnects.
  static constexpr std::size_t kSendQueueLimit = 256 * 1024;

  // Main thread (the one that runs the loop).
  explicit EpollClientSocket(EpollLoop& loop);
  ~EpollClientSocket() override;

  EpollClientSocket(const EpollClientSocket&) = delete;
  EpollClientSocket& operator=(const EpollClientSocket&) = delete;

  void set_host(const std::string& host) override { host_ = host; }
  void set_port(int32_t port) override { port_ = port; }
  void open() override;
  void close() override;
  bool is_active() const override { return active_; }
  void send_text(std::string_view text) override;
  std::string receive_text() override;
  void set_events(ClientSocketEvents events) override { events_ = std::move(events); }
  // Bytes sent by the logic that the kernel has not taken yet.
  std::size_t unsent_bytes() const { return unsent_.size(); }

 private:
  struct Mailbox;  // look-up answers handed from the resolver threads

  // Runs fn from the loop unless its attempt was closed or replaced.
  void post(std::function<void()> fn);
  void take_answers();
  void resolved(std::vector<sockaddr_storage> addresses, int error);
  void connect_next();
  void on_ready(uint32_t events);
  void finish_connect();
  // Reads what is there; returns the end seen, if any (0: the peer closed in order).
  std::optional<int> read_available();
  void flush();
  void want_write(bool want);
  void drop_socket();
  void report_end(std::optional<SocketError> error);
  void report_attempt_failed(SocketError error);

  EpollLoop& loop_;
  std::shared_ptr<Mailbox> mailbox_;
  int fd_ = -1;
  bool connecting_ = false;
  bool want_write_ = false;
  std::string host_;
  int32_t port_ = 0;
  bool active_ = false;                      // what the logic has been told: on_connect .. its end
  bool connected_ = false;                   // the kernel's view, ahead of active_
  uint64_t attempt_ = 0;                     // bumped by open() and close()
  std::vector<sockaddr_storage> addresses_;  // still to try for this attempt
  int last_connect_error_ = 0;
  std::string received_;
  std::string unsent_;
  ClientSocketEvents events_;
};

}  // namespace tarvion
