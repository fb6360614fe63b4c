// Plays the udev daemon where none runs: hears the kernel's device events and
// announces each one again on the daemon's channel, after the device node is
// in place, as the daemon does once its rules have run.
#pragma once

#include <atomic>
#include <thread>

namespace tarvion::testing {

class UdevRelay {
 public:
  UdevRelay();   // listening once this returns
  ~UdevRelay();  // stops
  UdevRelay(const UdevRelay&) = delete;
  UdevRelay& operator=(const UdevRelay&) = delete;

  bool running() const { return socket_ >= 0 && stop_fd_ >= 0; }
  int relayed() const { return relayed_.load(); }

 private:
  void run();

  int socket_ = -1;
  int stop_fd_ = -1;
  std::atomic<int> relayed_{0};
  std::thread thread_;
};

}  // namespace tarvion::testing
