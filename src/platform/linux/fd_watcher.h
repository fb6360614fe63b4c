// Readiness of a file descriptor as an event of the main loop, whichever loop
// the program runs (its own epoll loop in console mode, Qt's with a window), so
// the timers, the signal watch and the instance guard are written once.
#pragma once

// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include <functional>

namespace tarvion {

class FdWatcher {
 public:
  virtual ~FdWatcher() = default;
  // Main thread. on_readable runs on the main thread, from the loop, whenever
  // fd has input (level-triggered: again while input is left). One watch per fd.
  virtual void watch(int fd, std::function<void()> on_readable) = 0;
  // Main thread; also from inside a handler. No call for fd after this returns.
  virtual void unwatch(int fd) = 0;
};

}  // namespace tarvion
