// The run-on-main-thread facility: workers (timers, panel read threads) hand
// their event to the one thread that runs all program logic, and wait.
#pragma once

#include <functional>

namespace tarvion {

class MainThread {
 public:
  virtual ~MainThread() = default;

  // Called from a worker thread: queues fn for the main thread, blocks until
  // it has run, and rethrows here whatever fn threw. Calling it from the main
  // thread is a bug (the call would wait on itself).
  virtual void run_and_wait(std::function<void()> fn) = 0;

  // Main thread only: keeps running queued calls until done() is true. Used
  // while waiting for a worker to end, which may itself be blocked in
  // run_and_wait.
  virtual void pump_until(const std::function<bool()>& done) = 0;

  virtual bool is_main_thread() const = 0;
};

}  // namespace tarvion
