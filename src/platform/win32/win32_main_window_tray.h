// Form1's notification-area icon: the record handed to Shell_NotifyIconW, and
// the icon's presence kept across a restart of the taskbar.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <functional>
#include <string>

namespace tarvion {

// What hands the icon's record to the shell: Shell_NotifyIconW, or in tests a
// taskbar that answers as they choose. True when the shell reports success.
using ShellNotify = std::function<bool(DWORD message, NOTIFYICONDATAW& record)>;
ShellNotify system_shell_notify();

// uID 1, message, icon and tip; the tip is tray_tip(title), never longer than
// szTip holds with its terminating zero.
NOTIFYICONDATAW tray_record(HWND window, HICON icon, const std::string& title);

class TrayIcon {
 public:
  TrayIcon(HWND window, HICON icon, const std::string& title, ShellNotify notify);
  ~TrayIcon();  // removes the icon: none is left behind by an ended program
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // True when the icon is there afterwards. Adding a present icon adds no second.
  bool add();
  // Also after an add reported as failed: the shell may have added the icon
  // all the same (a time-out), and it must not outlive the program.
  void remove();
  bool present() const { return present_; }
  // A new picture (another DPI); a present icon shows it at once.
  void set_icon(HICON icon);
  // The taskbar was made anew (explorer restarted) and lost its icons; adds
  // ours again. False when it was there and the new taskbar did not take it.
  bool taskbar_created();

 private:
  NOTIFYICONDATAW record_;
  ShellNotify notify_;
  bool present_ = false;
  bool added_ = false;  // an add was sent since the last delete, whatever it answered
};

}  // namespace tarvion
