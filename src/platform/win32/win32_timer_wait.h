// The Windows programs' timer waits: a high-resolution waitable timer, since
// a plain wait ends on the 15.6 ms system tick (a 20 ms interval became 31).
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include <memory>

#include "shell/threaded_timer.h"

namespace tarvion {

class Win32TimerWait : public TimerWait {
 public:
  // Takes a high-resolution timer (Windows 10 1803 on); where the system
  // refuses one, a plain timer with the system tick raised to 1 ms.
  Win32TimerWait();
  ~Win32TimerWait() override;

  Win32TimerWait(const Win32TimerWait&) = delete;
  Win32TimerWait& operator=(const Win32TimerWait&) = delete;

  // False when the system gave neither timer nor event (out of handles).
  bool usable() const { return timer_ != nullptr && event_ != nullptr; }
  bool high_resolution() const { return high_resolution_; }

  void wait_until(std::unique_lock<std::mutex>& lock,
                  std::chrono::steady_clock::time_point deadline) override;
  void wait(std::unique_lock<std::mutex>& lock) override;
  void wake() override;

 private:
  HANDLE timer_ = nullptr;
  HANDLE event_ = nullptr;  // auto-reset: a wake before the wait is kept
  bool high_resolution_ = false;
  bool raised_period_ = false;
};

// The TimerWaitMaker of the Windows programs: a Win32TimerWait, or the
// condition-variable wait when the system has no handles to give.
std::unique_ptr<TimerWait> make_win32_timer_wait();

}  // namespace tarvion
