// A deterministic clock and its timers: tests step virtual time and every
// tick runs at once on the calling (main) thread. No thread, no sleep.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/timer.h"

namespace tarvion {

class VirtualTimer;

class VirtualClock : public TimerFactory {
 public:
  VirtualClock() = default;
  ~VirtualClock() override;

  std::unique_ptr<Timer> make_timer(TThreadPriority priority) override;

  uint64_t now_ms() const { return now_; }
  // Moves time forward, firing every tick that falls due on the way, in time
  // order (ties in creation order). A tick takes no virtual time.
  void advance(uint64_t milliseconds);

 private:
  friend class VirtualTimer;
  void forget(VirtualTimer* timer);

  uint64_t now_ = 0;
  std::vector<VirtualTimer*> timers_;
};

class VirtualTimer : public Timer {
 public:
  VirtualTimer(VirtualClock& clock, TThreadPriority priority)
      : clock_(clock), priority_(priority) {}
  ~VirtualTimer() override { clock_.forget(this); }

  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return enabled_; }
  void SetInterval(uint32_t milliseconds) override;
  void SetOnTimer(std::function<void()> on_timer) override { on_timer_ = std::move(on_timer); }

  uint32_t Interval() const { return interval_; }
  void SetAllowZero(bool allow) { allow_zero_ = allow; }
  // The priority the timer was made with (a virtual timer has no thread).
  TThreadPriority ThreadPriority() const { return priority_; }

  // True while ticks are due (enabled and able to tick).
  bool running() const { return running_; }
  uint64_t due_at() const { return due_; }
  // Ends the timer as an error in OnTimer ends a real one's worker.
  bool ended() const { return ended_; }

 private:
  friend class VirtualClock;
  void fire();

  VirtualClock& clock_;
  bool enabled_ = false;
  bool running_ = false;
  bool allow_zero_ = false;
  bool ended_ = false;
  uint32_t interval_ = 1000;
  uint64_t due_ = 0;
  TThreadPriority priority_ = TThreadPriority::tpNormal;
  std::function<void()> on_timer_;
};

}  // namespace tarvion
