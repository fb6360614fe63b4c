// The main thread of the Windows programs: the shared hand-off queue, woken by
// a message posted to a message-only window, so queued calls also run inside
// modal loops (the error box's) that dispatch posted messages.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include "base/call_queue.h"

namespace tarvion {

class Win32MainThread : public QueuedMainThread {
 public:
  // Construct on the thread that runs the message loop.
  Win32MainThread();
  ~Win32MainThread() override;

  Win32MainThread(const Win32MainThread&) = delete;
  Win32MainThread& operator=(const Win32MainThread&) = delete;

 protected:
  void wake() override;  // any thread

 private:
  static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  HWND hwnd_ = nullptr;
};

// Message-only windows hear posted and sent messages; broadcasts such as
// WM_DEVICECHANGE reach top-level windows only, so those get one never shown.
enum class HiddenWindow { message_only, top_level };

// A hidden window of a class registered once per process, whose procedure
// gets the object given here back through GWLP_USERDATA.
HWND create_message_window(const wchar_t* class_name, WNDPROC procedure, void* owner,
                           HiddenWindow kind = HiddenWindow::message_only);

// The object passed to create_message_window, or nullptr.
template <typename T>
T* message_window_owner(HWND hwnd) {
  return reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

}  // namespace tarvion
