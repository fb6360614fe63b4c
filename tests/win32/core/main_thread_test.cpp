// The Win32 main thread: calls queued by workers run on the thread that runs
// the message loop, one at a time, errors carried back; and the timers'
// priorities reach the threads.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/win32/win32_main_thread.h"
#include "platform/win32/win32_thread_priority.h"
#include "shell/threaded_timer.h"
#include "win32_loop.h"

namespace tarvion {
namespace {

TEST(Win32MainThread, WorkersCallsRunOnTheLoopThreadInOrderAndCarryErrorsBack) {
  Win32MainThread main_thread;
  const DWORD loop_thread = GetCurrentThreadId();
  constexpr int kWorkers = 4, kCalls = 50;
  std::vector<DWORD> ran_on;
  std::atomic<int> finished{0}, errors{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kCalls; ++i) {
        main_thread.run_and_wait([&] { ran_on.push_back(GetCurrentThreadId()); });
      }
      try {
        main_thread.run_and_wait([w] { throw std::runtime_error("worker " + std::to_string(w)); });
      } catch (const std::runtime_error&) {
        ++errors;
      }
      ++finished;
    });
  }
  // Only the message loop runs them: nothing here calls run_pending itself.
  EXPECT_TRUE(test::pump_messages_until([&] { return finished == kWorkers; }));
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(errors, kWorkers);
  ASSERT_EQ(ran_on.size(), static_cast<size_t>(kWorkers * kCalls));
  for (DWORD id : ran_on) EXPECT_EQ(id, loop_thread);
}

TEST(Win32MainThread, TimerTicksArriveThroughTheLoopAtTheirPriority) {
  Win32MainThread main_thread;
  struct Case {
    TThreadPriority priority;
    int windows;
  };
  for (const Case& c : {Case{TThreadPriority::tpIdle, THREAD_PRIORITY_IDLE},
                        Case{TThreadPriority::tpLower, THREAD_PRIORITY_BELOW_NORMAL},
                        Case{TThreadPriority::tpNormal, THREAD_PRIORITY_NORMAL},
                        Case{TThreadPriority::tpHighest, THREAD_PRIORITY_HIGHEST},
                        Case{TThreadPriority::tpTimeCritical, THREAD_PRIORITY_TIME_CRITICAL}}) {
    SCOPED_TRACE(c.windows);
    std::atomic<int> worker_priority{12345};
    // The hook runs on the worker: read its priority back right after applying it.
    TThreadedTimer timer(main_thread, [&](TThreadPriority p) {
      bool applied = apply_win32_thread_priority(p);
      worker_priority = GetThreadPriority(GetCurrentThread());
      return applied;
    });
    int ticks = 0;
    timer.SetInterval(10);
    timer.SetThreadPriority(c.priority);
    timer.SetOnTimer([&] { ++ticks; });
    timer.SetEnabled(true);
    EXPECT_TRUE(test::pump_messages_until([&] { return ticks >= 3; }));
    timer.SetEnabled(false);
    EXPECT_EQ(worker_priority, c.windows);
  }
}

}  // namespace
}  // namespace tarvion
