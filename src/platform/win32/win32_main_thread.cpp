// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_main_thread.h"

namespace tarvion {

namespace {
constexpr UINT kRunPending = WM_APP + 1;
}  // namespace

HWND create_message_window(const wchar_t* class_name, WNDPROC procedure, void* owner,
                           HiddenWindow kind) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (!GetClassInfoExW(instance, class_name, &existing)) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = class_name;
    RegisterClassExW(&window_class);
  }
  bool top_level = kind == HiddenWindow::top_level;
  HWND hwnd =
      CreateWindowExW(top_level ? WS_EX_TOOLWINDOW : 0, class_name, L"", top_level ? WS_POPUP : 0,
                      0, 0, 0, 0, top_level ? nullptr : HWND_MESSAGE, nullptr, instance, nullptr);
  if (hwnd) SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
  return hwnd;
}

Win32MainThread::Win32MainThread() {
  hwnd_ = create_message_window(L"TarvionMainThread", window_proc, this);
}

Win32MainThread::~Win32MainThread() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void Win32MainThread::wake() {
  // One message per queued call; a run that finds the queue drained is harmless.
  if (hwnd_) PostMessageW(hwnd_, kRunPending, 0, 0);
}

LRESULT CALLBACK Win32MainThread::window_proc(HWND hwnd, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
  if (message == kRunPending) {
    if (auto* self = message_window_owner<Win32MainThread>(hwnd)) self->run_pending();
    return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace tarvion
