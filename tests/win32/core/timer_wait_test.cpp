// The Windows timers' waitable-timer wait under a real TThreadedTimer: the
// fixed delay holds, and a wake ends a long wait at once. Bounds are
// generous; the tick period itself is a figure of bench/win32, not a test.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "platform/win32/win32_main_thread.h"
#include "platform/win32/win32_timer_wait.h"
#include "shell/threaded_timer.h"
#include "win32_loop.h"

namespace tarvion {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

TEST(Win32TimerWait, TicksKeepTheFixedDelayAndWakesEndALongWaitAtOnce) {
  Win32TimerWait probe;
  ASSERT_TRUE(probe.usable());
  RecordProperty("high_resolution", probe.high_resolution() ? "yes" : "no");

  Win32MainThread main_thread;
  auto timer = std::make_unique<TThreadedTimer>(main_thread, ThreadPriorityHook{}, ThreadLauncher{},
                                                make_win32_timer_wait);
  std::vector<Clock::time_point> ticks;
  timer->SetOnTimer([&] { ticks.push_back(Clock::now()); });
  timer->SetInterval(20);
  Clock::time_point enabled_at = Clock::now();
  timer->SetEnabled(true);
  ASSERT_TRUE(test::pump_messages_until([&] { return ticks.size() >= 8; }));
  // A deadline the timer and the clock see a little apart may end a hair
  // early; a whole millisecond early is a wait that did not keep its deadline.
  const auto least = milliseconds(20) - microseconds(500);
  EXPECT_GE(ticks[0] - enabled_at, least) << "first tick one full interval after enabling";
  for (size_t i = 1; i < ticks.size(); ++i) {
    EXPECT_GE(ticks[i] - ticks[i - 1], least) << "gap before tick " << i;
  }

  // A minute's wait: a new interval wakes the worker, which starts the new one.
  ticks.clear();
  timer->SetInterval(60000);
  Clock::time_point changed_at = Clock::now();
  test::pump_messages_until([&] { return Clock::now() - changed_at >= milliseconds(50); });
  timer->SetInterval(30);
  ASSERT_TRUE(test::pump_messages_until([&] { return !ticks.empty(); }, std::chrono::seconds(5)))
      << "the changed interval did not end the minute's wait";

  // Destroying it in the middle of a minute's wait ends the worker at once.
  timer->SetInterval(60000);
  Clock::time_point destroyed_at = Clock::now();
  timer.reset();
  EXPECT_LT(Clock::now() - destroyed_at, std::chrono::seconds(5));
}

}  // namespace
}  // namespace tarvion
