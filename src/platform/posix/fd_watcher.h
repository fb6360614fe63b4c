// Readiness of a file descriptor as an event of the main loop, whichever loop
// the program runs (its own epoll loop in console mode, Qt's with a window), so
// the timers, the signal watch, the instance guard and the TCP client are
// written once.
#pragma once

// clang-format off
#include "platform/posix/posix_only.h"  // first: this file is POSIX-only
// clang-format on

#include <functional>

namespace tarvion {

class FdWatcher {
 public:
  virtual ~FdWatcher() = default;
  // Main thread. on_readable runs on the main thread, from the loop, whenever
  // fd has input (level-triggered: again while input is left). One watch per fd.
  virtual void watch(int fd, std::function<void()> on_readable) = 0;
  // As watch, and on_ready runs also while fd has room to write as long as
  // write interest is on; an error or a hang-up counts as ready too.
  virtual void watch_io(int fd, bool want_write, std::function<void()> on_ready) = 0;
  virtual void set_write_interest(int fd, bool want_write) = 0;
  // Main thread; also from inside a handler. No call for fd after this returns.
  virtual void unwatch(int fd) = 0;
  // Main thread: runs fn from the loop, after the handler that is running.
  virtual void post(std::function<void()> fn) = 0;
};

}  // namespace tarvion
