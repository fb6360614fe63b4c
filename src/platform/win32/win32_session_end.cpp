// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_session_end.h"

#include <system_error>

#include "platform/win32/win32_main_thread.h"

namespace tarvion {

Win32SessionEnd::Win32SessionEnd(MainThread& main_thread, std::function<void()> requested,
                                 std::function<void()> close)
    : main_thread_(main_thread), requested_(std::move(requested)), close_(std::move(close)) {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!ready) return;
  try {
    thread_ = std::thread([this, ready] { thread_body(ready); });
    WaitForSingleObject(ready, INFINITE);
  } catch (const std::system_error&) {
    // No thread: the session's end then closes nothing, as before.
  }
  CloseHandle(ready);
}

Win32SessionEnd::~Win32SessionEnd() {
  loop_ended();
  if (!thread_.joinable()) return;
  if (hwnd_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  // The thread may be handing a close over right now: keep running those.
  main_thread_.pump_until([this] { return ended_; });
  thread_.join();
}

void Win32SessionEnd::loop_ended() {
  std::lock_guard lock(mutex_);
  requested_ = nullptr;
  close_ = nullptr;
}

void Win32SessionEnd::thread_body(HANDLE ready) {
  hwnd_ = create_message_window(L"TarvionSessionEnd", window_proc, this, HiddenWindow::top_level);
  SetEvent(ready);
  if (hwnd_) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  }
  main_thread_.run_and_wait([this] { ended_ = true; });
}

void Win32SessionEnd::session_ends() {
  std::function<void()> close;
  {
    std::lock_guard lock(mutex_);
    close = close_;
  }
  if (!close) return;
  try {
    main_thread_.run_and_wait(close);
  } catch (...) {
    // The close's own failures are not the session's to report.
  }
}

LRESULT CALLBACK Win32SessionEnd::window_proc(HWND hwnd, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
  auto* self = message_window_owner<Win32SessionEnd>(hwnd);
  switch (message) {
    case WM_QUERYENDSESSION:
      if (self) {
        std::lock_guard lock(self->mutex_);
        if (self->requested_) self->requested_();
      }
      return TRUE;  // Tarvion never holds a session up
    case WM_ENDSESSION:
      // Once this is answered the process may be ended at any moment: the
      // goodbye and the dark panels must be out before.
      if (wparam && self) self->session_ends();
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace tarvion
