#include "platform/qt/qt_main_thread.h"

#include <QMetaObject>

namespace tarvion {

void QtMainThread::wake() {
  if (drain_posted_.exchange(true, std::memory_order_acq_rel)) return;
  QMetaObject::invokeMethod(
      &context_,
      [this] {
        // Cleared before draining: a call queued from here on posts a new drain.
        drain_posted_.store(false, std::memory_order_release);
        run_pending();
      },
      Qt::QueuedConnection);
}

}  // namespace tarvion
