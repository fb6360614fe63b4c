// "Device nodes changed" on Linux: a libudev monitor of the hidraw devices,
// read by a worker thread that hands each change to the main thread.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "base/main_thread.h"
#include "hid/device_notifier.h"
#include "platform/linux/linux_only.h"

struct udev;
struct udev_monitor;

namespace tarvion {

// Where the monitor hears of devices. The udev daemon announces a device
// after its rules have run, so the node's permissions are final; the kernel
// announces it before, when a user may not be able to open it yet.
enum class UdevSource {
  automatic,  // udev when its daemon runs, else kernel
  udev,
  kernel,
};

// Where a running udev daemon leaves its control socket.
inline constexpr const char* kUdevControlPath = "/run/udev/control";

class UdevNotifier : public DeviceNotifier {
 public:
  // Main thread. daemon_marker: the file whose presence says a udev daemon
  // runs (for automatic). Without a monitor (no netlink here) post() still works.
  explicit UdevNotifier(MainThread& main_thread, UdevSource source = UdevSource::automatic,
                        std::string daemon_marker = kUdevControlPath);
  // Main thread: stops the worker, running its queued hand-over meanwhile.
  ~UdevNotifier() override;

  UdevNotifier(const UdevNotifier&) = delete;
  UdevNotifier& operator=(const UdevNotifier&) = delete;

  void set_handler(DeviceChangeHandler handler) override;
  void post(int32_t change_param) override;

  // "udev" or "kernel", or empty when no monitor could be made.
  const std::string& source() const { return source_name_; }

 private:
  void open_monitor(UdevSource source, const std::string& daemon_marker);
  void run();
  // Worker: hands one notification to the main thread and waits for it.
  void deliver(int32_t change_param);

  MainThread& main_thread_;
  DeviceChangeHandler handler_;  // main thread only
  std::string source_name_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  int monitor_fd_ = -1;
  int wake_fd_ = -1;

  std::mutex mutex_;
  std::deque<int32_t> posted_;
  bool stopping_ = false;

  bool ended_ = false;  // main thread only: the worker's last hand-over sets it
  std::thread worker_;
};

}  // namespace tarvion
