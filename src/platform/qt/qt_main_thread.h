// The main thread of the Linux program: the shared hand-off queue, woken by a
// queued call into the Qt event loop, so calls also run inside modal loops.
#pragma once

#include <QObject>
#include <atomic>

#include "base/call_queue.h"

namespace tarvion {

class QtMainThread : public QueuedMainThread {
 public:
  // Construct on the thread that runs the Qt event loop, after the application object.
  QtMainThread() = default;

 protected:
  void wake() override;  // any thread

 private:
  // Queued calls are bound to this object: when it is gone, Qt drops them.
  QObject context_;
  // A drain is posted and has not started: another wake-up would find nothing
  // it does not already cover.
  std::atomic<bool> drain_posted_{false};
};

}  // namespace tarvion
