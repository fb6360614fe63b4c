// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_instance_guard.h"

namespace tarvion {

namespace {
// Per window: long enough for a busy but live program, short enough that a
// desktop full of hung windows cannot keep the second instance for long.
constexpr UINT kBroadcastTimeoutMs = 1000;
}  // namespace

Win32InstanceGuard::~Win32InstanceGuard() {
  if (mutex_) CloseHandle(mutex_);
}

bool Win32InstanceGuard::acquire() {
  if (mutex_) return true;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name_.c_str());
  DWORD error = GetLastError();
  if (mutex && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  // No handle because the mutex exists and we may not open it: its owner runs
  // with more rights (as administrator), and it is another Tarvion all the same.
  if (!mutex && error == ERROR_ACCESS_DENIED) return false;
  // Without a mutex at all (a name taken by another kind of object, say) the
  // program still runs: refusing to start would be worse than two instances.
  mutex_ = mutex;
  return true;
}

void Win32InstanceGuard::signal_running() {
  UINT message = RegisterWindowMessageA(name_.c_str());
  if (message == 0) return;
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL,
                      kBroadcastTimeoutMs, &ignored);
}

}  // namespace tarvion
