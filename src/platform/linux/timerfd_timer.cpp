// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include "platform/linux/timerfd_timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/error.h"

namespace tarvion {

TimerfdTimer::TimerfdTimer(FdWatcher& loop) : loop_(loop) {}

TimerfdTimer::~TimerfdTimer() {
  if (fd_ < 0) return;
  loop_.unwatch(fd_);
  ::close(fd_);
}

void TimerfdTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  if (enabled && fd_ < 0) {
    fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd_ < 0) {
      // The same failure, for the user, as a timer thread that cannot be made.
      throw TarvionError(std::string("Thread creation error: ") + std::strerror(errno));
    }
    loop_.watch(fd_, [this] { expired(); });
  }
  enabled_ = enabled;
  arm();
}

void TimerfdTimer::SetInterval(uint32_t milliseconds) {
  if (milliseconds == interval_) return;
  interval_ = milliseconds;
  arm();  // a new interval starts in full, as after disabling and enabling
}

void TimerfdTimer::arm() {
  if (fd_ < 0) return;
  itimerspec due{};  // all zero: disarmed
  if (enabled_ && !ended_ && interval_ > 0) {
    due.it_value.tv_sec = interval_ / 1000;
    due.it_value.tv_nsec = static_cast<long>(interval_ % 1000) * 1000000L;
  }
  ::timerfd_settime(fd_, 0, &due, nullptr);
}

void TimerfdTimer::expired() {
  uint64_t count;
  // Disarming or re-arming since the expiry empties the counter: then nothing is due.
  if (::read(fd_, &count, sizeof count) != sizeof count) return;
  if (!enabled_ || ended_) return;
  try {
    if (on_timer_) on_timer_();
  } catch (...) {
    ended_ = true;
  }
  arm();
}

}  // namespace tarvion
