// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_device_notifier.h"

#include <dbt.h>

namespace tarvion {
namespace {

constexpr const wchar_t* kClassName = L"TarvionDeviceNotifier";

}  // namespace

Win32DeviceNotifier::Win32DeviceNotifier() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (!GetClassInfoExW(instance, kClassName, &existing)) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.lpszClassName = kClassName;
    RegisterClassExW(&window_class);
  }
  // Top-level, never shown: the system broadcasts WM_DEVICECHANGE to
  // top-level windows only, message-only windows do not hear it.
  hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                          instance, nullptr);
  if (hwnd_) SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
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
    auto* self = reinterpret_cast<Win32DeviceNotifier*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    // lParam is 0 from the system; our own posts carry a 32-bit value.
    if (self) self->deliver(static_cast<int32_t>(lparam));
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace tarvion
