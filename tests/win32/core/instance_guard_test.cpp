// The named mutex and the broadcast of the second instance: refused while the
// first lives (also when its mutex is closed to us), admitted after, and the
// broadcast reaches live windows without waiting on a hung one for ever.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/win32/win32_instance_guard.h"
#include "shell/single_instance.h"
#include "win32_loop.h"

namespace tarvion {
namespace {

const char* const kName = "TarvionTestInstance";

std::atomic<int> g_signals{0};
UINT g_message = 0;

LRESULT CALLBACK listener_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == g_message && message != 0) ++g_signals;
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

HWND top_level_window(const wchar_t* class_name, WNDPROC procedure) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = class_name;
  RegisterClassW(&window_class);
  return CreateWindowExW(0, class_name, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

TEST(Win32InstanceGuard, SecondInstanceIsRefusedSignalsTheFirstAndLaterOneIsAdmitted) {
  g_message = RegisterWindowMessageA(kName);
  HWND listener = top_level_window(L"TarvionTestListener", listener_proc);
  ASSERT_NE(listener, nullptr);
  // A window whose thread never handles messages: a hung program elsewhere on the desktop.
  std::atomic<bool> release{false};
  std::thread hung([&] {
    HWND window = top_level_window(L"TarvionTestHung", DefWindowProcW);
    while (!release) Sleep(10);
    DestroyWindow(window);
  });
  {
    Win32InstanceGuard first(kName);
    ASSERT_TRUE(claim_single_instance(first));
    std::atomic<bool> second_done{false}, second_admitted{true};
    std::thread second([&] {
      Win32InstanceGuard guard(kName);
      second_admitted = claim_single_instance(guard);
      second_done = true;
    });
    auto started = std::chrono::steady_clock::now();
    // The broadcast is a send: our listener must keep handling messages meanwhile.
    EXPECT_TRUE(
        test::pump_messages_until([&] { return second_done.load(); }, std::chrono::seconds(30)));
    second.join();
    EXPECT_FALSE(second_admitted);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_TRUE(test::pump_messages_until([] { return g_signals > 0; }));
  }
  release = true;
  hung.join();
  Win32InstanceGuard later(kName);
  EXPECT_TRUE(later.acquire());
  DestroyWindow(listener);
}

TEST(Win32InstanceGuard, AFirstInstanceWhoseMutexWeMayNotOpenKeepsUsOut) {
  // An empty access list grants no one anything: to us the mutex is what an
  // elevated first instance's is to a program of the plain user.
  const char* const name = "TarvionTestElevatedInstance";
  SECURITY_DESCRIPTOR descriptor;
  ACL nobody;
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(InitializeAcl(&nobody, sizeof nobody, ACL_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &nobody, FALSE));
  SECURITY_ATTRIBUTES attributes{static_cast<DWORD>(sizeof attributes), &descriptor, FALSE};
  HANDLE elevated = CreateMutexA(&attributes, FALSE, name);
  ASSERT_NE(elevated, nullptr);
  HANDLE probe = CreateMutexA(nullptr, FALSE, name);
  DWORD error = GetLastError();
  if (probe) CloseHandle(probe);
  ASSERT_EQ(probe, nullptr);
  ASSERT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));

  Win32InstanceGuard second(name);
  EXPECT_FALSE(second.acquire());
  CloseHandle(elevated);
}

}  // namespace
}  // namespace tarvion
