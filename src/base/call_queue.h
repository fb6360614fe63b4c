// The hand-off primitive behind every MainThread: a locked queue of calls that
// workers fill and the main thread drains. Platforms add only the wake-up.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "base/main_thread.h"

namespace tarvion {

class QueuedMainThread : public MainThread {
 public:
  // The constructing thread becomes the main thread.
  QueuedMainThread();

  void run_and_wait(CallRef fn) override;  // worker threads
  void pump_until(const std::function<bool()>& done) override;
  bool is_main_thread() const override;

  // Main thread: runs every call queued so far, and those queued while it
  // runs; returns how many ran.
  int run_pending();
  // Calls waiting to run now. Any thread.
  std::size_t queued_calls();

  // Wakes a pump_until so it re-tests its condition, for a condition that
  // changes without a queued call. Any thread. (The program's workers end with
  // a last queued call instead, which wakes it as well.)
  void notify();

 protected:
  // Asks the platform's main loop to call run_pending() soon. Called with no
  // lock held, from the queueing worker, only when its call found the queue
  // empty: one run_pending() drains everything queued behind it.
  virtual void wake() {}

 private:
  // Lives on the waiting worker's stack for the length of its call.
  struct Call {
    explicit Call(CallRef f) : fn(f) {}
    CallRef fn;
    Call* next = nullptr;
    std::exception_ptr error;
    bool done = false;
    std::condition_variable ran;  // this worker alone waits on it
  };

  std::thread::id main_id_;
  std::mutex mutex_;
  std::condition_variable queued_;  // main thread waits for work or notify()
  Call* first_ = nullptr;           // the queue, oldest first
  Call* last_ = nullptr;
  unsigned notifications_ = 0;
};

// Debug-build check that logic runs on the main thread.
void assert_main_thread(const MainThread& main_thread);

}  // namespace tarvion
