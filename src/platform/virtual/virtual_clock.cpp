#include "platform/virtual/virtual_clock.h"

#include <algorithm>

namespace tarvion {

VirtualClock::~VirtualClock() = default;

std::unique_ptr<Timer> VirtualClock::make_timer(TThreadPriority priority) {
  auto timer = std::make_unique<VirtualTimer>(*this, priority);
  timers_.push_back(timer.get());
  return timer;
}

void VirtualClock::forget(VirtualTimer* timer) {
  timers_.erase(std::remove(timers_.begin(), timers_.end(), timer), timers_.end());
}

void VirtualClock::advance(uint64_t milliseconds) {
  const uint64_t target = now_ + milliseconds;
  for (;;) {
    VirtualTimer* next = nullptr;
    for (VirtualTimer* t : timers_) {
      if (t->running_ && t->due_ <= target && (!next || t->due_ < next->due_)) next = t;
    }
    if (!next) break;
    now_ = next->due_;
    next->fire();
  }
  now_ = target;
}

void VirtualTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (!enabled) {
    running_ = false;
    return;
  }
  // Interval 0 ticks back to back; in virtual time that is every millisecond.
  if (!ended_ && (interval_ > 0 || allow_zero_)) {
    running_ = true;
    due_ = clock_.now_ + std::max<uint32_t>(interval_, 1);
  }
}

void VirtualTimer::SetInterval(uint32_t milliseconds) {
  if (milliseconds == interval_) return;
  bool was_enabled = enabled_;
  SetEnabled(false);
  interval_ = milliseconds;
  SetEnabled(was_enabled);
}

void VirtualTimer::fire() {
  // Fixed delay: the next wait starts after this tick, as with the real timer.
  due_ = clock_.now_ + std::max<uint32_t>(interval_, 1);
  if (!on_timer_) return;
  try {
    on_timer_();
  } catch (...) {
    ended_ = true;
    running_ = false;
  }
}

}  // namespace tarvion
