// Logoff and shutdown through the hidden window on its own thread: the
// request is heard while the main thread is busy, and the session is let go
// only once the close has run on the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win32/win32_main_thread.h"
#include "platform/win32/win32_session_end.h"
#include "win32_loop.h"

namespace tarvion {
namespace {

TEST(Win32SessionEnd, TheRequestComesAtOnceAndTheSessionEndsAfterTheCloseRan) {
  Win32MainThread main_thread;
  std::atomic<bool> requested{false};
  std::atomic<int> closes{0};
  DWORD closed_on = 0;
  Win32SessionEnd session(
      main_thread, [&] { requested = true; },
      [&] {
        closed_on = GetCurrentThreadId();
        ++closes;
      });
  HWND hwnd = session.hwnd();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(GetParent(hwnd), nullptr) << "only top-level windows hear a session end";

  // The main thread sends and so runs nothing queued meanwhile: the request
  // must not need it.
  EXPECT_EQ(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  EXPECT_TRUE(requested);
  // Another program cancelled the logoff: nothing closes.
  EXPECT_EQ(SendMessageW(hwnd, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF), 0);
  EXPECT_EQ(closes, 0);

  // Windows sends from elsewhere and waits for the answer.
  std::atomic<bool> answered{false};
  std::atomic<int> closes_when_answered{-1};
  auto send_end = [&] {
    return std::thread([&] {
      SendMessageW(hwnd, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
      closes_when_answered = closes.load();
      answered = true;
    });
  };
  std::thread windows = send_end();
  EXPECT_TRUE(test::pump_messages_until([&] { return answered.load(); }));
  windows.join();
  EXPECT_EQ(closes_when_answered, 1) << "answered before the close had run";
  EXPECT_EQ(closed_on, GetCurrentThreadId()) << "the close runs on the main thread";

  // Once the message loop has ended nothing is left to close, and the
  // session is not held up waiting for it.
  session.loop_ended();
  answered = false;
  windows = send_end();
  windows.join();  // no pumping here: the answer must not need the main thread
  EXPECT_EQ(closes, 1);
}

}  // namespace
}  // namespace tarvion
