// TThreadedTimer: a periodic timer whose waiting is done by a worker thread of
// its own while every tick runs on the main thread, one at a time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "base/main_thread.h"
#include "base/thread_launcher.h"
#include "base/timer.h"

namespace tarvion {

// Applies a priority to the calling thread; false when the OS refuses.
using ThreadPriorityHook = std::function<bool(TThreadPriority)>;

class TThreadedTimer : public Timer {
 public:
  explicit TThreadedTimer(MainThread& main_thread, ThreadPriorityHook priority_hook = {},
                          ThreadLauncher launcher = {});
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
  std::condition_variable wake_;
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
                                ThreadLauncher launcher = {})
      : main_thread_(main_thread), hook_(std::move(hook)), launcher_(std::move(launcher)) {}
  std::unique_ptr<Timer> make_timer(TThreadPriority priority) override {
    auto timer = std::make_unique<TThreadedTimer>(main_thread_, hook_, launcher_);
    timer->SetThreadPriority(priority);
    return timer;
  }

 private:
  MainThread& main_thread_;
  ThreadPriorityHook hook_;
  ThreadLauncher launcher_;
};

}  // namespace tarvion
