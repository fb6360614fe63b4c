// The console program's loop: workers' calls run on the loop's thread, and the
// timerfd timers tick there with the threaded timers' rules.
#include "platform/linux/epoll_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "epoll_test_loop.h"
#include "platform/linux/timerfd_timer.h"

namespace tarvion {
namespace {

using Clock = std::chrono::steady_clock;

TEST(EpollMainThread, WorkersCallsRunOnTheLoopThreadOneAtATimeWithErrorsCarriedBack) {
  EpollLoop loop;
  EpollMainThread main_thread(loop);
  constexpr int kWorkers = 4, kCalls = 200;
  int total = 0;  // only the loop thread touches it
  std::atomic<int> wrong_thread{0}, errors{0}, finished{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kCalls; ++i) {
        try {
          main_thread.run_and_wait([&, i] {
            if (!main_thread.is_main_thread()) ++wrong_thread;
            ++total;
            if ((i + w) % 50 == 0) throw std::runtime_error("handler failed");
          });
        } catch (const std::runtime_error&) {
          ++errors;
        }
      }
      ++finished;
    });
  }
  ASSERT_TRUE(test::run_until(
      loop, [&] { return finished == kWorkers; }, 20000));
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(total, kWorkers * kCalls);
  EXPECT_EQ(wrong_thread, 0);
  EXPECT_EQ(errors, kWorkers * kCalls / 50);
}

// What a timer did, as its handler saw it.
struct Ticks {
  EpollLoop loop;
  TimerfdTimer timer{loop};
  std::vector<Clock::time_point> at;
  Clock::time_point enabled_at;
  void enable(uint32_t interval) {
    timer.SetInterval(interval);
    enabled_at = Clock::now();
    timer.SetEnabled(true);
  }
  double first_after_ms() const {
    return std::chrono::duration<double, std::milli>(at.front() - enabled_at).count();
  }
};

TEST(TimerfdTimer, TicksFollowTheThreadedTimersRules) {
  struct Case {
    const char* name;
    uint32_t interval;
    // What the handler does at its nth tick (1-based).
    std::function<void(Ticks&, int)> on_tick;
    std::size_t ticks_expected;
  };
  const Case cases[] = {
      {"disabled from its own tick: no tick after", 15,
       [](Ticks& t, int n) {
         if (n == 3) t.timer.SetEnabled(false);
       },
       3},
      {"an error ends it for good, still enabled", 15,
       [](Ticks&, int n) {
         if (n == 2) throw std::runtime_error("tick failed");
       },
       2},
      {"disabled and enabled again from its tick: ticks on", 15,
       [](Ticks& t, int n) {
         if (n == 2) {
           t.timer.SetEnabled(false);
           t.timer.SetEnabled(true);
         }
         if (n == 4) t.timer.SetEnabled(false);
       },
       4},
      {"interval 0 never ticks", 0, [](Ticks&, int) {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ticks t;
    t.timer.SetOnTimer([&] {
      t.at.push_back(Clock::now());
      c.on_tick(t, static_cast<int>(t.at.size()));
    });
    t.enable(c.interval);
    test::run_until(
        t.loop, [&] { return t.at.size() >= c.ticks_expected + 1; }, 300);
    EXPECT_EQ(t.at.size(), c.ticks_expected);
    if (!t.at.empty()) {
      EXPECT_GE(t.first_after_ms(), c.interval);  // a full interval first
    }
    if (std::string(c.name).starts_with("an error")) {
      EXPECT_TRUE(t.timer.ended());
      EXPECT_TRUE(t.timer.Enabled());
    }
  }
}

TEST(TimerfdTimer, ANewIntervalStartsInFull) {
  Ticks t;
  t.timer.SetOnTimer([&] { t.at.push_back(Clock::now()); });
  t.enable(10000);
  test::run_for(t.loop, 30);
  EXPECT_TRUE(t.at.empty());
  auto changed = Clock::now();
  t.timer.SetInterval(40);
  ASSERT_TRUE(test::run_until(t.loop, [&] { return !t.at.empty(); }));
  double waited = std::chrono::duration<double, std::milli>(t.at.front() - changed).count();
  EXPECT_GE(waited, 40.0);
}

}  // namespace
}  // namespace tarvion
