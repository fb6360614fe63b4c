// Single instance on Linux: a lock file held for the life of the process, and
// a local socket "Kelvane" that a second instance connects to as its signal.
// Both programs (window and console) use the same two files, so either kind
// keeps out a second one of either kind.
#pragma once

// clang-format off
#include "platform/posix/posix_only.h"  // first: this file is POSIX-only
// clang-format on

#include <string>

#include "platform/posix/fd_watcher.h"
#include "shell/instance_guard.h"

namespace tarvion {

// $XDG_RUNTIME_DIR when it is a private folder of this user's, else a folder
// of this user's own in the temporary directory (created private on first
// use), or empty when what stands under that name is not exactly that.
std::string default_instance_dir();

class UnixInstanceGuard : public InstanceGuard {
 public:
  // An empty dir: no safe place for the lock, so the guard admits everyone.
  explicit UnixInstanceGuard(FdWatcher& loop, std::string dir = default_instance_dir());
  ~UnixInstanceGuard() override;

  UnixInstanceGuard(const UnixInstanceGuard&) = delete;
  UnixInstanceGuard& operator=(const UnixInstanceGuard&) = delete;

  bool acquire() override;
  // Connects to the running instance's socket and leaves; best effort, bounded.
  void signal_running() override;

  // Signals received by the running instance (it does nothing else with them).
  int signals_received() const { return signals_received_; }
  std::string lock_path() const { return dir_ + "/tarvion.lock"; }
  std::string socket_path() const { return dir_ + "/Kelvane"; }

 private:
  void listen();
  void accept_all();

  FdWatcher& loop_;
  std::string dir_;
  int lock_fd_ = -1;
  int server_fd_ = -1;
  int signals_received_ = 0;
};

}  // namespace tarvion
