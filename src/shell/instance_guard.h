// Single instance: the first program holds the guard; a second one signals
// the first ("Kelvane") and ends.
#pragma once

namespace tarvion {

class InstanceGuard {
 public:
  virtual ~InstanceGuard() = default;
  // True when this process is the only instance (and now holds the guard).
  virtual bool acquire() = 0;
  // Tells the running instance that another one was started.
  virtual void signal_running() = 0;
};

}  // namespace tarvion
