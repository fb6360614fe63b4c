// The hand-off primitive behind every MainThread: a locked queue of calls that
// workers fill and the main thread drains. Platforms add only the wake-up.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "base/main_thread.h"

namespace tarvion {

class QueuedMainThread : public MainThread {
 public:
  // The constructing thread becomes the main thread.
  QueuedMainThread();

  void run_and_wait(std::function<void()> fn) override;  // worker threads
  void pump_until(const std::function<bool()>& done) override;
  bool is_main_thread() const override;

  // Main thread: runs every call queued so far; returns how many ran.
  int run_pending();

  // Wakes a pump_until so it re-tests its condition, for a condition that
  // changes without a queued call. Any thread. (The program's workers end with
  // a last queued call instead, which wakes it as well.)
  void notify();

 protected:
  // Asks the platform's main loop to call run_pending() soon. Called with no
  // lock held, from the queueing worker.
  virtual void wake() {}

 private:
  struct Call {
    std::function<void()> fn;
    std::exception_ptr error;
    bool done = false;
  };

  std::thread::id main_id_;
  std::mutex mutex_;
  std::condition_variable queued_;  // main thread waits for work or notify()
  std::condition_variable ran_;     // workers wait for their call to finish
  std::deque<Call*> calls_;
  unsigned notifications_ = 0;
};

// Debug-build check that logic runs on the main thread.
void assert_main_thread(const MainThread& main_thread);

}  // namespace tarvion
