// Descriptor readiness on the Qt event loop, for the window program.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <map>
#include <memory>

#include "platform/posix/fd_watcher.h"

namespace tarvion {

class QtFdWatcher : public FdWatcher {
 public:
  // Construct after the application object, on its thread.
  QtFdWatcher() = default;
  ~QtFdWatcher() override;
  void watch(int fd, std::function<void()> on_readable) override;
  void watch_io(int fd, bool want_write, std::function<void()> on_ready) override;
  void set_write_interest(int fd, bool want_write) override;
  void unwatch(int fd) override;
  void post(std::function<void()> fn) override;

 private:
  struct Notifiers {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;  // only for watch_io
  };
  std::map<int, Notifiers> notifiers_;
  QObject context_;  // posted calls die with the watcher
};

}  // namespace tarvion
