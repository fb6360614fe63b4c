// Form1's notification-area icon: the record handed to Shell_NotifyIconW, and
// the icon's presence kept across a restart of the taskbar.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <string>

namespace tarvion {

// uID 1, message, icon and tip; the tip is tray_tip(title), never longer than
// szTip holds with its terminating zero.
NOTIFYICONDATAW tray_record(HWND window, HICON icon, const std::string& title);

class TrayIcon {
 public:
  TrayIcon(HWND window, HICON icon, const std::string& title);
  ~TrayIcon();  // removes the icon: none is left behind by an ended program
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // True when the icon is there afterwards. Adding a present icon adds no second.
  bool add();
  void remove();
  bool present() const { return present_; }
  // The taskbar was made anew (explorer restarted) and lost its icons.
  void taskbar_created();

 private:
  NOTIFYICONDATAW record_;
  bool present_ = false;
};

}  // namespace tarvion
