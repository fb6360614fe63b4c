// The TCP client's system operations on POSIX: a non-blocking socket on the
// program's descriptor watcher (the console program's epoll loop or Qt's).
// Names are looked up on a thread of their own, since the resolver may block
// for seconds.
#pragma once

// clang-format off
#include "platform/posix/posix_only.h"  // first: this file is POSIX-only
// clang-format on

#include <memory>

#include "platform/posix/fd_watcher.h"
#include "zemp/tcp_connection.h"

namespace tarvion {

// errno values (and the resolver's EAI_ codes, negative) as the logic names them.
SocketError map_errno(int error);

class PosixTcpIo : public TcpIo {
 public:
  // Main thread (the one that runs the watcher's loop).
  explicit PosixTcpIo(FdWatcher& watcher);
  ~PosixTcpIo() override;
  PosixTcpIo(const PosixTcpIo&) = delete;
  PosixTcpIo& operator=(const PosixTcpIo&) = delete;

  void set_handlers(Handlers handlers) override { handlers_ = std::move(handlers); }
  bool usable() const override;
  void resolve(const std::string& host, int32_t port, uint64_t lookup) override;
  std::optional<SocketError> connect(const NetAddress& address) override;
  ConnectOutcome connect_outcome() override;
  IoResult send(std::string_view bytes) override;
  IoResult receive(char* buffer, std::size_t size) override;
  void want_write(bool want) override;
  void stop_events() override;
  bool wait(bool for_write, std::chrono::milliseconds bound) override;
  void shutdown_send() override;
  void close_socket() override;
  void post(std::function<void()> fn) override;

 private:
  struct Mailbox;  // look-up answers handed over from the resolver threads
  void take_answers();

  FdWatcher& watcher_;
  std::shared_ptr<Mailbox> mailbox_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // posted calls check it
  Handlers handlers_;
  int fd_ = -1;
  bool watched_ = false;
  bool want_write_ = false;
};

}  // namespace tarvion
