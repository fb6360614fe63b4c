// THidDeviceReadThread: the one background thread of a lent device. It waits
// for input reports and hands each one to the device's data handler on the
// main thread, waiting until the handler has run.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "base/main_thread.h"
#include "base/thread_launcher.h"
#include "hid/hid_access.h"

namespace tarvion {

class THidDevice;

class THidDeviceReadThread {
 public:
  // Main thread. report_length: the device's input report length now.
  THidDeviceReadThread(THidDevice& device, HidAccess& hid, MainThread& main_thread,
                       std::size_t report_length, ThreadLauncher launcher = {});
  // Main thread; ends the loop first (Terminate, WaitFor) if it still runs.
  ~THidDeviceReadThread();

  THidDeviceReadThread(const THidDeviceReadThread&) = delete;
  THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

  // Raises "Thread creation error: %s" when the thread cannot be created.
  void Start();
  // Any thread: asks the loop to end, waking it from a pause between reads
  // and, by closing the device's read handle, from a wait for a report.
  void Terminate();
  // Main thread: waits for the loop to end, running meanwhile the calls it
  // queued for the main thread (or the two would wait on each other).
  void WaitFor();

 private:
  void Execute();
  bool terminated() const { return terminated_.load(std::memory_order_acquire); }
  // Waits the device's ThreadSleepTime or until Terminate().
  void pause();

  THidDevice& device_;
  HidAccess& hid_;
  MainThread& main_thread_;
  ThreadLauncher launcher_;
  std::vector<uint8_t> report_;
  std::size_t bytes_read_ = 0;
  uint32_t last_error_ = 0;

  std::atomic<bool> terminated_{false};
  std::mutex pause_mutex_;
  std::condition_variable pause_wake_;
  bool ended_ = false;  // main thread only: the loop's last call sets it
  std::thread thread_;
};

}  // namespace tarvion
