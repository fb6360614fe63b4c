// TThreadedTimer on real threads. Bounds are generous: a lower bound holds
// whatever the load; upper bounds only separate "restarted" from "not".
#include "shell/threaded_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "base/call_queue.h"
#include "base/error.h"

namespace tarvion {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long ms_since(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
}

struct Rig {
  QueuedMainThread main;
  std::vector<long> ticks;  // ms since start, recorded on the main thread
  Clock::time_point start = Clock::now();

  void pump_for(long ms) {
    auto until = Clock::now() + milliseconds(ms);
    main.pump_until([&] { return Clock::now() >= until; });
  }
  void pump_until_ticks(size_t n, long limit_ms = 10000) {
    auto until = Clock::now() + milliseconds(limit_ms);
    main.pump_until([&] { return ticks.size() >= n || Clock::now() >= until; });
  }
  void record(TThreadedTimer& timer) {
    timer.SetOnTimer([this] {
      EXPECT_TRUE(main.is_main_thread());
      ticks.push_back(ms_since(start));
    });
  }
};

TEST(ThreadedTimer, FirstTickComesOneFullIntervalAfterEnabling) {
  Rig rig;
  TThreadedTimer timer(rig.main);
  rig.record(timer);
  timer.SetInterval(300);
  rig.start = Clock::now();
  timer.SetEnabled(true);
  rig.pump_until_ticks(2);
  ASSERT_GE(rig.ticks.size(), 2u);
  EXPECT_GE(rig.ticks[0], 295);
  EXPECT_GE(rig.ticks[1] - rig.ticks[0], 295) << "fixed delay between ticks";
}

TEST(ThreadedTimer, ChangingTheIntervalRestartsTheWaitAndTheSameValueDoesNot) {
  struct Case {
    const char* name;
    uint32_t first, second;
    long min_ms, max_ms;
  };
  // Set at 500 ms into a 1000 ms wait.
  const Case cases[] = {
      {"new interval: restarts from the change", 1000, 800, 1295, 100000},
      {"same interval: the wait goes on", 1000, 1000, 995, 1450},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    TThreadedTimer timer(rig.main);
    rig.record(timer);
    timer.SetInterval(c.first);
    rig.start = Clock::now();
    timer.SetEnabled(true);
    rig.pump_for(500);
    timer.SetInterval(c.second);
    rig.pump_until_ticks(1);
    ASSERT_EQ(rig.ticks.size(), 1u);
    EXPECT_GE(rig.ticks[0], c.min_ms);
    EXPECT_LT(rig.ticks[0], c.max_ms);
  }
}

TEST(ThreadedTimer, EnablingAnEnabledTimerDoesNotRestartItsWait) {
  Rig rig;
  TThreadedTimer timer(rig.main);
  rig.record(timer);
  timer.SetInterval(1000);
  rig.start = Clock::now();
  timer.SetEnabled(true);
  rig.pump_for(500);
  timer.SetEnabled(true);
  rig.pump_until_ticks(1);
  ASSERT_EQ(rig.ticks.size(), 1u);
  EXPECT_LT(rig.ticks[0], 1450);
}

TEST(ThreadedTimer, DisablingInsideOnTimerStopsEveryFurtherTick) {
  Rig rig;
  TThreadedTimer timer(rig.main);
  timer.SetInterval(20);
  int ticks = 0;
  timer.SetOnTimer([&] {
    ++ticks;
    timer.SetEnabled(false);
  });
  timer.SetEnabled(true);
  auto until = Clock::now() + milliseconds(5000);
  rig.main.pump_until([&] { return ticks > 0 || Clock::now() >= until; });
  rig.pump_for(200);
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(timer.Enabled());
}

TEST(ThreadedTimer, ATickHandedOverBeforeDisablingDoesNothing) {
  Rig rig;
  TThreadedTimer timer(rig.main);
  rig.record(timer);
  timer.SetInterval(10);
  timer.SetEnabled(true);
  // Not pumping: the worker's first tick waits in the queue.
  std::this_thread::sleep_for(milliseconds(100));
  timer.SetEnabled(false);
  rig.pump_for(100);
  EXPECT_TRUE(rig.ticks.empty());
}

TEST(ThreadedTimer, IntervalZeroTicksOnlyWithAllowZero) {
  for (bool allow : {true, false}) {
    SCOPED_TRACE(allow ? "AllowZero" : "no AllowZero");
    Rig rig;
    TThreadedTimer timer(rig.main);
    rig.record(timer);
    timer.SetAllowZero(allow);
    timer.SetInterval(0);
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Enabled());
    if (allow) {
      rig.pump_until_ticks(50);
      EXPECT_GE(rig.ticks.size(), 50u);
    } else {
      rig.pump_for(200);
      EXPECT_TRUE(rig.ticks.empty());
    }
    timer.SetEnabled(false);
  }
}

TEST(ThreadedTimer, AnErrorInOnTimerEndsOnlyThatTimer) {
  Rig rig;
  TThreadedTimer failing(rig.main);
  TThreadedTimer healthy(rig.main);
  int failing_ticks = 0;
  failing.SetInterval(20);
  failing.SetOnTimer([&] {
    ++failing_ticks;
    throw std::runtime_error("tick failed");
  });
  healthy.SetInterval(20);
  rig.record(healthy);
  failing.SetEnabled(true);
  healthy.SetEnabled(true);
  rig.pump_until_ticks(10);
  EXPECT_EQ(failing_ticks, 1);
  EXPECT_TRUE(failing.Enabled()) << "the flag still reads true";
  EXPECT_TRUE(failing.worker_ended());
  EXPECT_GE(rig.ticks.size(), 10u);
}

TEST(ThreadedTimer, DestructionWorksInEveryState) {
  Rig rig;
  { TThreadedTimer never_enabled(rig.main); }
  {
    TThreadedTimer disabled(rig.main);
    disabled.SetInterval(10);
    disabled.SetEnabled(true);
    disabled.SetEnabled(false);
  }
  {
    // The worker is blocked handing over a tick that nobody pumps; the
    // destructor must run it rather than wait for ever.
    TThreadedTimer blocked(rig.main);
    rig.record(blocked);
    blocked.SetInterval(5);
    blocked.SetEnabled(true);
    std::this_thread::sleep_for(milliseconds(50));
  }
  SUCCEED();
}

TEST(ThreadedTimer, ThePriorityItIsMadeWithIsAppliedOnTheWorkerThread) {
  Rig rig;
  std::atomic<int> applied{-1};
  std::atomic<bool> on_worker{false};
  ThreadedTimerFactory factory(rig.main, [&](TThreadPriority p) {
    on_worker = !rig.main.is_main_thread();
    applied = static_cast<int>(p);
    return true;
  });
  std::unique_ptr<Timer> made = factory.make_timer(TThreadPriority::tpTimeCritical);
  auto& timer = dynamic_cast<TThreadedTimer&>(*made);
  timer.SetInterval(10000);
  timer.SetEnabled(true);
  auto until = Clock::now() + milliseconds(5000);
  while (applied != static_cast<int>(TThreadPriority::tpTimeCritical) && Clock::now() < until) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  EXPECT_EQ(applied, static_cast<int>(TThreadPriority::tpTimeCritical));
  EXPECT_TRUE(on_worker);
  EXPECT_EQ(timer.ThreadPriority(), TThreadPriority::tpTimeCritical);
}

TEST(ThreadedTimer, AWorkerThatCannotBeCreatedRaisesTheErrorAndALaterEnablingRetries) {
  Rig rig;
  bool refuse = true;
  const auto refused = std::make_error_code(std::errc::resource_unavailable_try_again);
  TThreadedTimer timer(rig.main, {}, [&](std::function<void()> body) {
    if (refuse) throw std::system_error(refused);
    return std::thread(std::move(body));
  });
  rig.record(timer);
  timer.SetInterval(20);
  try {
    timer.SetEnabled(true);
    ADD_FAILURE() << "no error";
  } catch (const TarvionError& e) {
    EXPECT_EQ(e.what(), "Thread creation error: " + refused.message());
  }
  EXPECT_FALSE(timer.Enabled());
  refuse = false;
  timer.SetEnabled(true);
  rig.pump_until_ticks(1);
  EXPECT_GE(rig.ticks.size(), 1u);
}

}  // namespace
}  // namespace tarvion
