#include "platform/qt/qt_fd_watcher.h"

#include <QMetaObject>

namespace tarvion {

namespace {

std::unique_ptr<QSocketNotifier> notifier(int fd, QSocketNotifier::Type type,
                                          const std::shared_ptr<std::function<void()>>& handler) {
  auto n = std::make_unique<QSocketNotifier>(fd, type);
  QObject::connect(n.get(), &QSocketNotifier::activated, n.get(), [handler] { (*handler)(); });
  return n;
}

// Possibly from inside its own activation: Qt deletes it once that returns.
void retire(std::unique_ptr<QSocketNotifier> n) {
  if (!n) return;
  n->setEnabled(false);
  n.release()->deleteLater();
}

}  // namespace

QtFdWatcher::~QtFdWatcher() = default;

void QtFdWatcher::watch(int fd, std::function<void()> on_readable) {
  unwatch(fd);
  auto handler = std::make_shared<std::function<void()>>(std::move(on_readable));
  notifiers_[fd].read = notifier(fd, QSocketNotifier::Read, handler);
}

void QtFdWatcher::watch_io(int fd, bool want_write, std::function<void()> on_ready) {
  unwatch(fd);
  auto handler = std::make_shared<std::function<void()>>(std::move(on_ready));
  Notifiers& n = notifiers_[fd];
  n.read = notifier(fd, QSocketNotifier::Read, handler);
  n.write = notifier(fd, QSocketNotifier::Write, handler);
  n.write->setEnabled(want_write);
}

void QtFdWatcher::set_write_interest(int fd, bool want_write) {
  auto it = notifiers_.find(fd);
  if (it != notifiers_.end() && it->second.write) it->second.write->setEnabled(want_write);
}

void QtFdWatcher::unwatch(int fd) {
  auto it = notifiers_.find(fd);
  if (it == notifiers_.end()) return;
  retire(std::move(it->second.read));
  retire(std::move(it->second.write));
  notifiers_.erase(it);
}

void QtFdWatcher::post(std::function<void()> fn) {
  QMetaObject::invokeMethod(&context_, std::move(fn), Qt::QueuedConnection);
}

}  // namespace tarvion
