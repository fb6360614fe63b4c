// The test thread as the main thread: runs what workers queue for it until a
// condition holds, with a generous real-time limit (these tests drive real
// threads, sockets and devices).
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "base/call_queue.h"

namespace tarvion::testing {

inline bool pump_until_or_timeout(QueuedMainThread& main_thread, const std::function<bool()>& done,
                                  std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (main_thread.run_pending() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace tarvion::testing
