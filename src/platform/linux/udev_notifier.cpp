#include "platform/linux/udev_notifier.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/linux_only.h"

namespace tarvion {

UdevNotifier::UdevNotifier(MainThread& main_thread, UdevSource source, std::string daemon_marker)
    : main_thread_(main_thread) {
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  open_monitor(source, daemon_marker);
  // Without a wake-up the worker could never be stopped; there is then
  // nothing to deliver with either (eventfd fails only when out of files).
  if (wake_fd_ >= 0) worker_ = std::thread([this] { run(); });
}

UdevNotifier::~UdevNotifier() {
  // Whatever is still on its way is dropped: the handler's owner may be gone.
  handler_ = {};
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  if (worker_.joinable()) {
    eventfd_write(wake_fd_, 1);
    main_thread_.pump_until([this] { return ended_; });
    worker_.join();
  }
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void UdevNotifier::open_monitor(UdevSource source, const std::string& daemon_marker) {
  if (source == UdevSource::automatic) {
    source = access(daemon_marker.c_str(), F_OK) == 0 ? UdevSource::udev : UdevSource::kernel;
  }
  const char* name = source == UdevSource::udev ? "udev" : "kernel";
  udev_ = udev_new();
  if (!udev_) return;
  monitor_ = udev_monitor_new_from_netlink(udev_, name);
  if (!monitor_) return;
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    return;
  }
  monitor_fd_ = udev_monitor_get_fd(monitor_);
  source_name_ = name;
}

void UdevNotifier::set_handler(DeviceChangeHandler handler) {
  handler_ = std::move(handler);
}

void UdevNotifier::post(int32_t change_param) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(change_param);
  }
  if (wake_fd_ >= 0) eventfd_write(wake_fd_, 1);
}

void UdevNotifier::deliver(int32_t change_param) {
  try {
    main_thread_.run_and_wait([this, change_param] {
      // A copy: the handler may replace itself while it runs.
      DeviceChangeHandler handler = handler_;
      if (handler) handler(change_param);
    });
  } catch (...) {
    // The handler's error comes back here. The worker must outlive it, or no
    // device change would ever be heard again; the next notification lists
    // every device afresh, so nothing stays out of step.
  }
}

void UdevNotifier::run() {
  for (;;) {
    pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {monitor_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents & POLLIN) {
      eventfd_t count;
      eventfd_read(wake_fd_, &count);
    }
    bool changed = false;
    short events = fds[1].revents;
    if (events & (POLLIN | POLLERR)) {
      // Every event that passes the filter counts; they are drained so that
      // a burst of them becomes one notification.
      while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        udev_device_unref(device);
        changed = true;
      }
      // POLLERR: the socket overflowed and events were lost. A listing sets
      // everything right, so it counts as a change.
      if (events & POLLERR) changed = true;
    }
    if (events & (POLLHUP | POLLNVAL)) monitor_fd_ = -1;  // nothing more will come

    std::deque<int32_t> posted;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      posted.swap(posted_);
    }
    for (int32_t change_param : posted) deliver(change_param);
    if (changed) deliver(0);
  }
  main_thread_.run_and_wait([this] { ended_ = true; });
}

}  // namespace tarvion
