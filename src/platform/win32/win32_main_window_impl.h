// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

// Inside Form1's implementation: the state behind Win32MainWindow, shared by
// its building (win32_main_window_build.cpp) and its messages (win32_main_window.cpp).
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/win32/win32_controls.h"
#include "platform/win32/win32_main_window.h"
#include "platform/win32/win32_main_window_tray.h"

namespace tarvion {

struct Win32MainWindow::Impl {
  Impl(std::string title_text, ShellNotify shell_notify)
      : title(std::move(title_text)), notify(std::move(shell_notify)) {}

  std::string title;
  ShellNotify notify;
  WindowHandlers handlers;
  HWND hwnd = nullptr;
  HWND panel = nullptr;
  std::map<std::string, HWND> controls;  // by name
  std::map<HWND, const form1::ControlEntry*> entries;
  std::optional<form1::FontSet> fonts;
  HBRUSH background = CreateSolidBrush(form1::kSkyBlue);
  HICON big_icon = nullptr;
  HICON small_icon = nullptr;
  std::optional<TrayIcon> tray;
  UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  HWND focus = nullptr;         // the control that had the focus when Form1 lost it
  bool quiet_trackbar = false;  // the program is moving TrackBar1
  bool closed = false;

  ~Impl() {
    DeleteObject(background);
    if (big_icon) DestroyIcon(big_icon);
    if (small_icon) DestroyIcon(small_icon);
  }

  HWND control(const char* name) const {
    auto it = controls.find(name);
    return it == controls.end() ? nullptr : it->second;
  }

  static void register_classes();
  void create();
  void create_controls();
  void apply_fonts_and_layout();
  void make_icons(UINT dpi);  // the window's and the tray's, drawn for dpi
  void place(HWND child);
  void close();
  void show();
  LRESULT colour(HDC dc, HWND child);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK form_proc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK panel_proc(HWND, UINT, WPARAM, LPARAM);
};

// Gives Form1 its client area of 433 x 241 at dpi.
void fit_client(HWND hwnd, UINT dpi);

}  // namespace tarvion
