// Bounded runs of a test's own epoll loop (the bounds are real-time safety
// nets, generous: a test that needs one has failed).
#pragma once

#include <chrono>
#include <functional>

#include "platform/linux/epoll_loop.h"

namespace tarvion::test {

// Runs the loop until done() or the bound; returns done().
inline bool run_until(EpollLoop& loop, const std::function<bool()>& done, int bound_ms = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    loop.run_once(10);
  }
}

// Runs the loop for a while, for checking that something does NOT happen.
inline void run_for(EpollLoop& loop, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) loop.run_once(5);
}

}  // namespace tarvion::test
