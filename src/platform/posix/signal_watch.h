// SIGINT and SIGTERM as an event of the main loop: the program closes as if the
// window's close button had been pressed.
#pragma once

// clang-format off
#include "platform/posix/posix_only.h"  // first: this file is POSIX-only
// clang-format on

#include <functional>

#include "platform/posix/fd_watcher.h"

namespace tarvion {

class SignalWatch {
 public:
  // Installs the handlers; on_signal runs on the main thread, once per burst
  // of signals. One watch per process (the handler needs a fixed place).
  SignalWatch(FdWatcher& loop, std::function<void(int signal)> on_signal);
  // Leaves the handlers in place, doing nothing: a signal after the watch
  // ended belongs to a close already under way and must not kill the process
  // in the middle of its teardown.
  ~SignalWatch();

  // True once a signal arrived, also while the loop was not running (a start-up
  // step that waits asks this to give up early). Any thread.
  bool requested() const;

  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

 private:
  void drain();

  int fds_[2] = {-1, -1};
  FdWatcher& loop_;
  std::function<void(int)> on_signal_;
};

}  // namespace tarvion
