// "Device nodes changed" on Windows: a hidden top-level window that the
// system's WM_DEVICECHANGE broadcasts reach, handled on the main thread.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include "hid/device_notifier.h"

namespace tarvion {

class Win32DeviceNotifier : public DeviceNotifier {
 public:
  // Main thread: the thread that runs the message loop, which delivers.
  Win32DeviceNotifier();
  ~Win32DeviceNotifier() override;

  Win32DeviceNotifier(const Win32DeviceNotifier&) = delete;
  Win32DeviceNotifier& operator=(const Win32DeviceNotifier&) = delete;

  void set_handler(DeviceChangeHandler handler) override { handler_ = std::move(handler); }
  // Posts WM_DEVICECHANGE (DBT_DEVNODES_CHANGED) with lParam change_param to
  // the window, so it arrives the way the system's does.
  void post(int32_t change_param) override;

  // Null when the window could not be made (then nothing is delivered).
  HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void deliver(int32_t change_param);

  HWND hwnd_ = nullptr;
  DeviceChangeHandler handler_;
};

}  // namespace tarvion
