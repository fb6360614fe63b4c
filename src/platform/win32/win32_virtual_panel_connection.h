// The virtual panel link over a loopback Winsock connection to the virtual
// panel host: a HidAccess and a DeviceNotifier for the composition root to
// use in place of the real HID services when TARVION_VIRTUAL_PANELS is set.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <winsock2.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/main_thread.h"
#include "platform/virtual/virtual_panel_link.h"

namespace tarvion {

class Win32VirtualPanelConnection {
 public:
  // Main thread. Connects to the host; nullptr, with the reason, when it cannot.
  // give_up, asked between short waits, abandons the attempt (a close request).
  static std::unique_ptr<Win32VirtualPanelConnection> connect(
      const PanelHostEndpoint& endpoint, MainThread& main_thread, std::string& error,
      const std::function<bool()>& give_up = {});
  // Main thread: ends the connection and its thread. Whatever used hid() and
  // notifier() must be gone by then.
  ~Win32VirtualPanelConnection();

  Win32VirtualPanelConnection(const Win32VirtualPanelConnection&) = delete;
  Win32VirtualPanelConnection& operator=(const Win32VirtualPanelConnection&) = delete;

  HidAccess& hid() { return link_.hid(); }
  DeviceNotifier& notifier() { return link_.notifier(); }

 private:
  Win32VirtualPanelConnection(SOCKET socket, MainThread& main_thread);
  void run();  // the connection's thread
  // Any writing thread: queues the line and sends what the socket takes now,
  // never waiting for the host (a host that stops reading must not stall the
  // program's cycle); the connection's thread sends the rest.
  void send_line(const std::string& line);
  void flush_locked();  // send_mutex_ held

  SOCKET socket_;
  WSAEVENT socket_event_ = WSA_INVALID_EVENT;  // readable, writable again, or closed
  WSAEVENT wake_event_ = WSA_INVALID_EVENT;    // a notification to deliver, or stop
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
std::unique_ptr<Win32VirtualPanelConnection> win32_virtual_panels_from_environment(
    MainThread& main_thread, std::string& error, const std::function<bool()>& give_up = {});

}  // namespace tarvion
