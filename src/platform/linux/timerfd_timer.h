// The Linux program's timer: a timerfd waited on by the main loop itself, so a
// tick costs one wake-up of the main thread and no thread of its own.
#pragma once

// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include <cstdint>
#include <functional>
#include <memory>

#include "base/timer.h"
#include "platform/posix/fd_watcher.h"

namespace tarvion {

// Ticks with a fixed delay: the next interval starts when a tick's OnTimer has
// returned, as the threaded timer's do. The first tick comes one full interval
// after enabling; an interval of 0 never ticks. An error thrown by OnTimer ends
// the timer for good, reporting nothing (as a threaded timer's worker ends).
class TimerfdTimer : public Timer {
 public:
  explicit TimerfdTimer(FdWatcher& loop);
  ~TimerfdTimer() override;
  TimerfdTimer(const TimerfdTimer&) = delete;
  TimerfdTimer& operator=(const TimerfdTimer&) = delete;

  // Raises "Thread creation error: %s" when the kernel gives no timer; the
  // timer then stays disabled (a later enabling tries again).
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return enabled_; }
  void SetInterval(uint32_t milliseconds) override;
  void SetOnTimer(std::function<void()> on_timer) override { on_timer_ = std::move(on_timer); }

  uint32_t Interval() const { return interval_; }
  bool ended() const { return ended_; }

 private:
  void arm();  // a full interval from now, or disarmed when there is nothing to tick
  void expired();

  FdWatcher& loop_;
  int fd_ = -1;
  bool enabled_ = false;
  bool ended_ = false;
  uint32_t interval_ = 1000;
  std::function<void()> on_timer_;
};

// The priority names a worker thread's; these timers have none.
class TimerfdTimerFactory : public TimerFactory {
 public:
  explicit TimerfdTimerFactory(FdWatcher& loop) : loop_(loop) {}
  std::unique_ptr<Timer> make_timer(TThreadPriority) override {
    return std::make_unique<TimerfdTimer>(loop_);
  }

 private:
  FdWatcher& loop_;
};

}  // namespace tarvion
