// TThreadedTimer: a periodic timer whose waiting is done by a worker thread of
// its own while every tick runs on the main thread, one at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "base/main_thread.h"
#include "base/thread_launcher.h"
#include "base/timer.h"

namespace tarvion {

// Applies a priority to the calling thread; false when the OS refuses.
using ThreadPriorityHook = std::function<bool(TThreadPriority)>;

// How a timer's worker sleeps: until a deadline or until woken. The default
// is a condition variable; Windows rounds such waits up to its system tick
// (15.6 ms), so the Windows programs bring a waitable timer of their own.
class TimerWait {
 public:
  virtual ~TimerWait() = default;
  // Worker thread, lock held on entry and on return: sleeps with it released
  // until wake() or the deadline. May return early; the caller looks again.
  virtual void wait_until(std::unique_lock<std::mutex>& lock,
                          std::chrono::steady_clock::time_point deadline) = 0;
  // Worker thread: the same without a deadline.
  virtual void wait(std::unique_lock<std::mutex>& lock) = 0;
  // Any thread, after changing what the worker looks at under the lock.
  virtual void wake() = 0;
};
using TimerWaitMaker = std::function<std::unique_ptr<TimerWait>()>;

// The condition-variable wait, what an empty TimerWaitMaker gives.
std::unique_ptr<TimerWait> make_condition_timer_wait();

class TThreadedTimer : public Timer {
 public:
  explicit TThreadedTimer(MainThread& main_thread, ThreadPriorityHook priority_hook = {},
                          ThreadLauncher launcher = {}, const TimerWaitMaker& wait_maker = {});
  ~TThreadedTimer() override;  // main thread; waits for the worker, pumping its hand-over

  TThreadedTimer(const TThreadedTimer&) = delete;
  TThreadedTimer& operator=(const TThreadedTimer&) = delete;

  // The worker is created at the first enabling; when it cannot be, this
  // raises "Thread creation error: %s" and the timer stays disabled.
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return enabled_; }
  void SetInterval(uint32_t milliseconds) override;
  void SetOnTimer(std::function<void()> on_timer) override { on_timer_ = std::move(on_timer); }

  // Beyond the seam: what the program sets once, and what tests read back.
  uint32_t Interval() const;
  void SetAllowZero(bool allow) { allow_zero_ = allow; }
  void SetThreadPriority(TThreadPriority priority);
  TThreadPriority ThreadPriority() const { return priority_; }

  // True once the worker has ended (told to, or by an error in OnTimer).
  bool worker_ended() const { return ended_; }

 private:
  void worker_body();    // worker thread
  void signal_end();     // worker thread, its last act
  void dispatch_tick();  // main thread, handed over by the worker
  void park();           // main thread
  void resume();         // main thread
  // Worker thread: true at the event (or an end or priority change), false
  // at the deadline.
  bool wait_for_event(std::unique_lock<std::mutex>& lock,
                      std::chrono::steady_clock::time_point deadline);

  MainThread& main_thread_;
  ThreadPriorityHook priority_hook_;
  ThreadLauncher launcher_;

  // Main-thread state.
  bool enabled_ = false;
  bool allow_zero_ = false;
  TThreadPriority priority_ = TThreadPriority::tpNormal;
  std::function<void()> on_timer_;

  // Shared with the worker, under mutex_.
  mutable std::mutex mutex_;
  std::unique_ptr<TimerWait> wait_;
  uint32_t interval_ = 1000;
  bool wake_event_ = false;  // the auto-reset event
  bool parked_ = true;
  bool terminate_ = false;
  bool priority_changed_ = true;
  TThreadPriority pending_priority_ = TThreadPriority::tpNormal;

  bool ended_ = false;  // main thread: set by the worker's last hand-over
  std::thread worker_;
};

// The timers of the real platforms.
class ThreadedTimerFactory : public TimerFactory {
 public:
  explicit ThreadedTimerFactory(MainThread& main_thread, ThreadPriorityHook hook = {},
                                ThreadLauncher launcher = {}, TimerWaitMaker wait_maker = {})
      : main_thread_(main_thread),
        hook_(std::move(hook)),
        launcher_(std::move(launcher)),
        wait_maker_(std::move(wait_maker)) {}
  std::unique_ptr<Timer> make_timer(TThreadPriority priority) override {
    auto timer = std::make_unique<TThreadedTimer>(main_thread_, hook_, launcher_, wait_maker_);
    timer->SetThreadPriority(priority);
    return timer;
  }

 private:
  MainThread& main_thread_;
  ThreadPriorityHook hook_;
  ThreadLauncher launcher_;
  TimerWaitMaker wait_maker_;
};

}  // namespace tarvion
