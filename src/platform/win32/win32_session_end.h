// Logoff and shutdown for both Windows programs. A process that loads user32
// never gets the console's logoff and shutdown events, and the main thread
// may sit in an FSUIPC send when Windows asks: so a hidden top-level window
// on a thread of its own hears WM_QUERYENDSESSION and WM_ENDSESSION and has
// the program's close run on the main thread before the session ends.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include <functional>
#include <mutex>
#include <thread>

#include "base/main_thread.h"

namespace tarvion {

class Win32SessionEnd {
 public:
  // Main thread. requested runs on the window's thread as soon as Windows
  // asks (the program then stops retrying a blocked send); close runs on
  // the main thread at WM_ENDSESSION, which is answered only once it ran.
  Win32SessionEnd(MainThread& main_thread, std::function<void()> requested,
                  std::function<void()> close);
  ~Win32SessionEnd();  // main thread; pumps its hand-over while the thread ends

  Win32SessionEnd(const Win32SessionEnd&) = delete;
  Win32SessionEnd& operator=(const Win32SessionEnd&) = delete;

  // Main thread, when the message loop has ended: a later session end finds
  // nothing to close.
  void loop_ended();

  // The hidden window; null when it could not be made.
  HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void thread_body(HANDLE ready);  // the window's thread
  void session_ends();             // the window's thread

  MainThread& main_thread_;
  std::mutex mutex_;  // guards the two callbacks against loop_ended
  std::function<void()> requested_;
  std::function<void()> close_;
  HWND hwnd_ = nullptr;
  bool ended_ = false;  // main thread: set by the thread's last hand-over
  std::thread thread_;
};

}  // namespace tarvion
