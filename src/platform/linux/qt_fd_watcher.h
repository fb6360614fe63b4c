// Descriptor readiness on the Qt event loop, for the window program.
#pragma once

// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include <QSocketNotifier>
#include <map>
#include <memory>

#include "platform/linux/fd_watcher.h"

namespace tarvion {

class QtFdWatcher : public FdWatcher {
 public:
  // Construct after the application object, on its thread.
  QtFdWatcher() = default;
  ~QtFdWatcher() override;
  void watch(int fd, std::function<void()> on_readable) override;
  void unwatch(int fd) override;

 private:
  std::map<int, std::unique_ptr<QSocketNotifier>> notifiers_;
};

}  // namespace tarvion
