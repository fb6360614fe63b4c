// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include "platform/linux/qt_fd_watcher.h"

namespace tarvion {

QtFdWatcher::~QtFdWatcher() = default;

void QtFdWatcher::watch(int fd, std::function<void()> on_readable) {
  unwatch(fd);
  auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                   [on_readable = std::move(on_readable)] { on_readable(); });
  notifiers_[fd] = std::move(notifier);
}

void QtFdWatcher::unwatch(int fd) {
  auto it = notifiers_.find(fd);
  if (it == notifiers_.end()) return;
  // Possibly from inside its own activation: Qt deletes it once that returns.
  it->second->setEnabled(false);
  it->second.release()->deleteLater();
  notifiers_.erase(it);
}

}  // namespace tarvion
