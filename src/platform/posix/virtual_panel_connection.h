// The virtual panel link over a loopback TCP connection to the virtual panel
// host: a HidAccess and a DeviceNotifier for the composition root to use in
// place of the real HID services when TARVION_VIRTUAL_PANELS is set.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/main_thread.h"
#include "platform/posix/posix_only.h"
#include "platform/virtual/virtual_panel_link.h"

namespace tarvion {

class VirtualPanelConnection {
 public:
  // Main thread. Connects to the host; nullptr, with the reason, when it cannot
  // within kPanelHostConnectLimit or give_up() turned true while it waited.
  static std::unique_ptr<VirtualPanelConnection> connect(const PanelHostEndpoint& endpoint,
                                                         MainThread& main_thread,
                                                         std::string& error,
                                                         const std::function<bool()>& give_up = {});
  // Main thread: ends the connection and its thread. Whatever used hid() and
  // notifier() must be gone by then.
  ~VirtualPanelConnection();

  VirtualPanelConnection(const VirtualPanelConnection&) = delete;
  VirtualPanelConnection& operator=(const VirtualPanelConnection&) = delete;

  HidAccess& hid() { return link_.hid(); }
  DeviceNotifier& notifier() { return link_.notifier(); }
  VirtualPanelLink& link() { return link_; }
  bool connected() const { return connected_.load(); }

 private:
  VirtualPanelConnection(int socket, MainThread& main_thread);
  void run();  // the connection's thread
  // Any writing thread: queues the line and sends what the socket takes now,
  // never waiting for the host (a host that stops reading must not stall the
  // program's cycle); the connection's thread sends the rest.
  void send_line(const std::string& line);
  void flush_locked();  // send_mutex_ held
  bool output_waiting();
  void wake();
  void deliver_notifications();

  int socket_;
  int wake_pipe_[2] = {-1, -1};
  MainThread& main_thread_;
  VirtualPanelLink link_;
  std::mutex send_mutex_;
  PanelOutputBacklog backlog_;  // guarded by send_mutex_
  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{true};
  bool ended_ = false;  // main thread only
  std::thread thread_;
};

// The link that TARVION_VIRTUAL_PANELS asks for: nullptr with an empty error
// when the variable is not set, nullptr with the reason when it cannot be had.
std::unique_ptr<VirtualPanelConnection> virtual_panels_from_environment(
    MainThread& main_thread, std::string& error, const std::function<bool()>& give_up = {});

}  // namespace tarvion
