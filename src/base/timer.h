// The periodic timer seam. TThreadedTimer (shell/) is the real one; the
// virtual clock (platform/virtual/) gives a deterministic one for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace tarvion {

// Worker thread priorities; the Win32 build maps them onto Windows' values
// (-15, -2, -1, 0, 1, 2, 15). The Linux timers tick on the main loop and have
// no worker thread, so there they name nothing.
enum class TThreadPriority {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

class Timer {
 public:
  virtual ~Timer() = default;

  // All calls on the main thread; OnTimer runs there too.
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetInterval(uint32_t milliseconds) = 0;
  virtual void SetOnTimer(std::function<void()> on_timer) = 0;
};

// Makes the program's timers; one per platform (real threads or virtual clock).
class TimerFactory {
 public:
  virtual ~TimerFactory() = default;
  // priority: that of the timer's worker thread, where it has one.
  virtual std::unique_ptr<Timer> make_timer(TThreadPriority priority) = 0;
};

}  // namespace tarvion
