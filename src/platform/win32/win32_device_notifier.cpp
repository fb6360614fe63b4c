// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_device_notifier.h"

#include <dbt.h>

#include "platform/win32/win32_main_thread.h"

namespace tarvion {
namespace {

constexpr const wchar_t* kClassName = L"TarvionDeviceNotifier";

}  // namespace

Win32DeviceNotifier::Win32DeviceNotifier() {
  // Top-level, never shown: the system broadcasts WM_DEVICECHANGE to
  // top-level windows only, message-only windows do not hear it.
  hwnd_ = create_message_window(kClassName, window_proc, this, HiddenWindow::top_level);
}

Win32DeviceNotifier::~Win32DeviceNotifier() {
  if (!hwnd_) return;
  // Messages still queued for the window go with it, undelivered.
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
}

void Win32DeviceNotifier::post(int32_t change_param) {
  if (hwnd_) {
    PostMessageW(hwnd_, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, static_cast<LPARAM>(change_param));
  }
}

void Win32DeviceNotifier::deliver(int32_t change_param) {
  // A copy: the handler may replace itself while it runs.
  DeviceChangeHandler handler = handler_;
  if (!handler) return;
  try {
    handler(change_param);
  } catch (...) {
    // An error cannot unwind through the system's message dispatch. The next
    // notification lists every device afresh, so nothing stays out of step.
  }
}

LRESULT CALLBACK Win32DeviceNotifier::window_proc(HWND hwnd, UINT message, WPARAM wparam,
                                                  LPARAM lparam) {
  if (message == WM_DEVICECHANGE && wparam == DBT_DEVNODES_CHANGED) {
    auto* self = message_window_owner<Win32DeviceNotifier>(hwnd);
    // lParam is 0 from the system; our own posts carry a 32-bit value.
    if (self) self->deliver(static_cast<int32_t>(lparam));
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace tarvion
