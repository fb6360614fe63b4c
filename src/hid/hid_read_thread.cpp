#include "hid/hid_read_thread.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "hid/hid_device.h"

namespace tarvion {

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device, HidAccess& hid,
                                           MainThread& main_thread, std::size_t report_length,
                                           ThreadLauncher launcher)
    : device_(device),
      hid_(hid),
      main_thread_(main_thread),
      launcher_(std::move(launcher)),
      report_(report_length) {}

THidDeviceReadThread::~THidDeviceReadThread() {
  if (thread_.joinable()) {
    Terminate();
    WaitFor();
  }
}

void THidDeviceReadThread::Start() {
  thread_ = launch_thread(launcher_, [this] { Execute(); });
}

void THidDeviceReadThread::Terminate() {
  {
    std::lock_guard lock(pause_mutex_);
    terminated_.store(true, std::memory_order_release);
  }
  pause_wake_.notify_all();
  // The read waits without a time-out: closing its handle is what ends it.
  device_.end_reads();
}

void THidDeviceReadThread::WaitFor() {
  if (!thread_.joinable()) return;
  main_thread_.pump_until([this] { return ended_; });
  thread_.join();
}

void THidDeviceReadThread::pause() {
  std::unique_lock lock(pause_mutex_);
  pause_wake_.wait_for(lock, std::chrono::milliseconds(device_.ThreadSleepTime()),
                       [this] { return terminated(); });
}

void THidDeviceReadThread::Execute() {
  HidHandle handle = kNoHidHandle;
  bool outstanding = false;  // a started read has not completed
  try {
    while (!terminated()) {
      outstanding = false;
      std::fill(report_.begin(), report_.end(), uint8_t{0});
      uint32_t open_error = 0;
      handle = device_.open_read_handle(open_error);
      bool started =
          handle != kNoHidHandle && hid_.start_read(handle, report_.data(), report_.size());
      if (started) {
        outstanding = true;
        // No time-out: an idle panel costs no wake-ups, and a stop closes
        // the handle, which ends the wait at once.
        std::optional<std::size_t> done;
        while (!done && !terminated()) done = hid_.wait_read(handle, kHidWaitForever);
        if (done) outstanding = false;
        if (terminated()) break;
        // The backend is outside input: never trust it past the buffer.
        bytes_read_ = std::min(*done, report_.size());
        if (bytes_read_ > 0) {
          auto size = static_cast<uint16_t>(
              std::min<std::size_t>(bytes_read_ - 1, std::numeric_limits<uint16_t>::max()));
          main_thread_.run_and_wait(
              [this, size] { device_.deliver(report_[0], report_.data() + 1, size); });
        } else {
          // Nothing came (the handle was closed, or the read failed): going
          // straight back would spin while the device is gone.
          pause();
        }
      } else {
        // A stop closes the handle under a starting read: not the device's error.
        if (terminated()) break;
        last_error_ = handle == kNoHidHandle ? open_error : hid_.last_error();
        main_thread_.run_and_wait([this] { device_.deliver_error(last_error_); });
        // Wait before the next try: a device whose reads keep failing would
        // otherwise spin this thread and flood the main thread with errors.
        pause();
      }
    }
  } catch (...) {
    // A handler's error ends the loop; its read had completed, so nothing is
    // outstanding. The device delivers no more until it is lent again.
    outstanding = false;
  }
  if (outstanding) hid_.cancel_read(handle);
  main_thread_.run_and_wait([this] { ended_ = true; });
}

}  // namespace tarvion
