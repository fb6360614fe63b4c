// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include "platform/linux/qt_main_thread.h"

#include <QMetaObject>

namespace tarvion {

void QtMainThread::wake() {
  // One wake per queued call; a run that finds the queue already drained is harmless.
  QMetaObject::invokeMethod(
      &context_, [this] { run_pending(); }, Qt::QueuedConnection);
}

}  // namespace tarvion
