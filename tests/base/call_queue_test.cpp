#include "base/call_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tarvion {
namespace {

TEST(QueuedMainThread, CallsFromWorkersRunOnTheMainThreadOneAtATime) {
  QueuedMainThread main;
  std::atomic<int> finished{0};
  int counter = 0;  // touched only by the main thread: TSan checks that
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        main.run_and_wait([&] {
          EXPECT_TRUE(main.is_main_thread());
          ++counter;
        });
      }
      ++finished;
      main.notify();
    });
  }
  main.pump_until([&] { return finished == 4; });
  for (auto& t : workers) t.join();
  EXPECT_EQ(counter, 400);
}

TEST(QueuedMainThread, AnExceptionIsCarriedBackToTheWorker) {
  QueuedMainThread main;
  std::atomic<bool> done{false};
  std::string caught;
  std::thread worker([&] {
    try {
      main.run_and_wait([] { throw std::runtime_error("tick failed"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
  });
  main.pump_until([&] { return done.load(); });
  worker.join();
  EXPECT_EQ(caught, "tick failed");
}

// Calls queued behind one another share the first one's wake-up of the main
// loop, and one drain runs them all; an empty queue wakes it again.
TEST(QueuedMainThread, OneWakeUpPerDrainNotPerCall) {
  struct CountingMainThread : QueuedMainThread {
    std::atomic<int> wakes{0};
    void wake() override { ++wakes; }
  } main;
  constexpr int kWorkers = 4;
  int ran = 0;  // main thread only
  auto run_workers = [&] {
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
      workers.emplace_back([&] { main.run_and_wait([&] { ++ran; }); });
    while (main.queued_calls() < kWorkers) std::this_thread::yield();
    EXPECT_EQ(main.run_pending(), kWorkers);
    for (auto& t : workers) t.join();
  };
  run_workers();
  EXPECT_EQ(main.wakes, 1);
  run_workers();
  EXPECT_EQ(main.wakes, 2);
  EXPECT_EQ(ran, 2 * kWorkers);
}

TEST(QueuedMainThread, RunPendingReturnsWithNothingQueued) {
  QueuedMainThread main;
  EXPECT_EQ(main.run_pending(), 0);
}

}  // namespace
}  // namespace tarvion
