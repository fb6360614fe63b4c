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

TEST(QueuedMainThread, RunPendingReturnsWithNothingQueued) {
  QueuedMainThread main;
  EXPECT_EQ(main.run_pending(), 0);
}

}  // namespace
}  // namespace tarvion
