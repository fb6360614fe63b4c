#include "shell/threaded_timer.h"

#include <chrono>
#include <condition_variable>

namespace tarvion {

namespace {

class ConditionTimerWait : public TimerWait {
 public:
  void wait_until(std::unique_lock<std::mutex>& lock,
                  std::chrono::steady_clock::time_point deadline) override {
    wake_.wait_until(lock, deadline);
  }
  void wait(std::unique_lock<std::mutex>& lock) override { wake_.wait(lock); }
  void wake() override { wake_.notify_all(); }

 private:
  std::condition_variable wake_;
};

}  // namespace

std::unique_ptr<TimerWait> make_condition_timer_wait() {
  return std::make_unique<ConditionTimerWait>();
}

TThreadedTimer::TThreadedTimer(MainThread& main_thread, ThreadPriorityHook priority_hook,
                               ThreadLauncher launcher, const TimerWaitMaker& wait_maker)
    : main_thread_(main_thread),
      priority_hook_(std::move(priority_hook)),
      launcher_(std::move(launcher)),
      wait_(wait_maker ? wait_maker() : make_condition_timer_wait()) {}

TThreadedTimer::~TThreadedTimer() {
  {
    std::lock_guard lock(mutex_);
    terminate_ = true;
    wake_event_ = true;
    parked_ = false;
  }
  wait_->wake();
  if (worker_.joinable()) {
    // The worker may be blocked handing over a tick: keep running those.
    main_thread_.pump_until([this] { return ended_; });
    worker_.join();
  }
}

void TThreadedTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (!enabled) {
    park();
    return;
  }
  if (Interval() > 0 || allow_zero_) {
    try {
      resume();
    } catch (...) {
      // No worker: the timer cannot tick, so it does not claim to be enabled
      // (a later enabling tries again).
      enabled_ = false;
      park();
      throw;
    }
  }
}

uint32_t TThreadedTimer::Interval() const {
  std::lock_guard lock(mutex_);
  return interval_;
}

void TThreadedTimer::SetInterval(uint32_t milliseconds) {
  if (milliseconds == Interval()) return;
  bool was_enabled = enabled_;
  SetEnabled(false);
  {
    std::lock_guard lock(mutex_);
    interval_ = milliseconds;
  }
  SetEnabled(was_enabled);
}

void TThreadedTimer::SetThreadPriority(TThreadPriority priority) {
  priority_ = priority;
  {
    std::lock_guard lock(mutex_);
    pending_priority_ = priority;
    priority_changed_ = true;  // the worker applies it to itself at once, without a tick
  }
  wait_->wake();
}

void TThreadedTimer::park() {
  std::lock_guard lock(mutex_);
  parked_ = true;
}

void TThreadedTimer::resume() {
  {
    std::lock_guard lock(mutex_);
    // The signalled event ends the current (or next) wait without a tick, so
    // the first tick comes one full interval after enabling.
    wake_event_ = true;
    parked_ = false;
  }
  wait_->wake();
  if (!worker_.joinable()) worker_ = launch_thread(launcher_, [this] { worker_body(); });
}

void TThreadedTimer::dispatch_tick() {
  // Tested here, on the main thread: a tick handed over before the timer was
  // disabled does nothing.
  if (enabled_ && on_timer_) on_timer_();
}

void TThreadedTimer::worker_body() {
  std::unique_lock lock(mutex_);
  // A wait keeps its deadline across wake-ups that are not the event.
  auto deadline = std::chrono::steady_clock::time_point();
  bool waiting = false;
  for (;;) {
    if (priority_changed_) {
      priority_changed_ = false;
      TThreadPriority wanted = pending_priority_;
      if (priority_hook_) {
        lock.unlock();
        priority_hook_(wanted);
        lock.lock();
      }
    }
    if (terminate_) break;
    if (parked_) {
      waiting = false;
      while (parked_ && !terminate_ && !priority_changed_) wait_->wait(lock);
      continue;
    }
    if (!waiting) {
      deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval_);
      waiting = true;
    }
    bool woken = wait_for_event(lock, deadline);
    if (terminate_) break;
    if (woken) {
      if (wake_event_) {
        wake_event_ = false;  // auto-reset; the next pass waits in full
        waiting = false;
      }
      continue;  // a priority change keeps the running wait
    }
    waiting = false;
    if (parked_) continue;  // disabled during the wait: no tick
    lock.unlock();
    try {
      main_thread_.run_and_wait([this] { dispatch_tick(); });
    } catch (...) {
      // An error in OnTimer ends this timer for good; nothing is reported.
      signal_end();
      return;
    }
    lock.lock();
  }
  lock.unlock();
  signal_end();
}

bool TThreadedTimer::wait_for_event(std::unique_lock<std::mutex>& lock,
                                    std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    if (wake_event_ || terminate_ || priority_changed_) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    wait_->wait_until(lock, deadline);
  }
}

void TThreadedTimer::signal_end() {
  // Handed over like a tick, so a main thread waiting in the destructor wakes
  // at once, as it does for a panel's read thread.
  main_thread_.run_and_wait([this] { ended_ = true; });
}

}  // namespace tarvion
