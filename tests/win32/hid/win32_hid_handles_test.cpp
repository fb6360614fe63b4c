// A driver that never hands a cancelled read back: neither the close's wait
// nor the read thread's own cancel waits for it without limit. The device is
// a named pipe; the cancel that a broken driver ignores is one that does
// nothing.
#include "platform/win32/win32_hid_handles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "pipe_device.h"
#include "win32_hid_rig.h"

namespace tarvion {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

BOOL WINAPI ignore_cancel(HANDLE, LPOVERLAPPED) {
  return TRUE;
}

TEST(Win32HidHandles, AReadTheDriverNeverHandsBackHoldsNeitherTheCloseNorTheReader) {
  struct Case {
    const char* name;
    bool closed_under_wait;  // else the read thread cancels its own read
  };
  for (const Case& c : {Case{"the main thread closes the handle under the wait", true},
                        Case{"the read thread cancels its read", false}}) {
    SCOPED_TRACE(c.name);
    test::PipeDevice device(test::unique_pipe_name());
    Win32HidHandles handles(ignore_cancel);
    HANDLE os = CreateFileA(device.path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(os, INVALID_HANDLE_VALUE);
    HidHandle handle = handles.add(os, HidOpenMode::read);
    std::vector<uint8_t> buffer(9, 0xEE);
    std::atomic<bool> started{false};
    std::optional<std::size_t> result;
    Clock::duration took{};
    std::thread reader([&] {
      if (!handles.start_read(handle, buffer.data(), buffer.size())) return;
      started = true;
      auto begin = Clock::now();
      if (c.closed_under_wait) {
        result = handles.wait_read(handle, kHidWaitForever);
      } else {
        handles.cancel_read(handle);
        result = 0;
      }
      took = Clock::now() - begin;
    });
    while (!started) std::this_thread::yield();
    if (c.closed_under_wait) {
      std::this_thread::sleep_for(100ms);  // the reader well into its wait
      handles.close(handle);
    }
    reader.join();
    EXPECT_EQ(result, std::optional<std::size_t>(0));
    EXPECT_LT(took, 5s) << "waited for a read that never comes back";
    EXPECT_EQ(buffer, std::vector<uint8_t>(9, 0xEE)) << "the caller's buffer stays untouched";
    device.send({1, 2, 3, 4, 5, 6, 7, 8, 9});  // a late report goes to the scratch copy only
    if (!c.closed_under_wait) handles.close(handle);
    EXPECT_EQ(buffer, std::vector<uint8_t>(9, 0xEE));
  }
}

}  // namespace
}  // namespace tarvion
