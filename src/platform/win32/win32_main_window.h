// The main window Form1 on Windows (plain Win32, no framework) with its
// notification-area icon. It draws what the logic shows and forwards the
// user's events to the program's handlers.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/win32/win32_main_window_tray.h"
#include "shell/main_window_view.h"

namespace tarvion {

class Win32MainWindow : public MainWindowView {
 public:
  // title: the application title (caption of the error box, tray tip).
  // notify: how the tray icon reaches the shell (tests give their own).
  // Creates Form1 hidden; show() makes it visible.
  explicit Win32MainWindow(std::string title, ShellNotify notify = system_shell_notify());
  ~Win32MainWindow() override;

  Win32MainWindow(const Win32MainWindow&) = delete;
  Win32MainWindow& operator=(const Win32MainWindow&) = delete;

  void set_handlers(WindowHandlers handlers);

  void set_text(Control control, const std::string& text) override;
  void set_device_list(const std::vector<std::string>& lines) override;
  void set_trackbar_position(int position) override;
  void hide() override;
  void show() override;
  bool tray_add() override;
  void tray_delete() override;
  void show_error(const std::string& text) override;

  // Closes the window as its close button does: FormClose once, then the
  // message loop ends (WM_QUIT with exit code 0).
  void close();
  bool closed() const;

  // The message loop offers every message here first (keyboard navigation
  // between the controls); true when it was handled.
  bool pre_translate(MSG& message);

  HWND hwnd() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvion
