// The Qt main thread: workers' calls run on the event loop's thread, also
// inside a nested (modal) loop, and the main thread can wait for a worker.
#include "platform/qt/qt_main_thread.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "qt_test_app.h"

namespace tarvion {
namespace {

using test::process_until;
using test::qt_app;

TEST(QtMainThread, WorkerCallRunsOnTheEventLoopThreadAndWorkerResumesAfterIt) {
  qt_app();
  QtMainThread main_thread;
  std::thread::id ran_on;
  std::atomic<bool> worker_done{false};
  int value = 0;
  std::thread worker([&] {
    main_thread.run_and_wait([&] {
      ran_on = std::this_thread::get_id();
      value = 42;
    });
    // The call has finished before run_and_wait returns.
    EXPECT_EQ(value, 42);
    worker_done = true;
  });
  ASSERT_TRUE(process_until([&] { return worker_done.load(); }));
  worker.join();
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(QtMainThread, ErrorThrownByTheCallReachesTheWorker) {
  qt_app();
  QtMainThread main_thread;
  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      main_thread.run_and_wait([] { throw std::runtime_error("tick failed"); });
    } catch (const std::runtime_error& error) {
      caught = std::string(error.what()) == "tick failed";
    }
  });
  ASSERT_TRUE(process_until([&] { return caught.load(); }));
  worker.join();
}

TEST(QtMainThread, CallsRunInsideANestedModalLoop) {
  qt_app();
  QtMainThread main_thread;
  QEventLoop modal;  // what an error box runs
  bool ran_inside = false;
  std::thread worker;
  QTimer::singleShot(0, [&] {
    worker = std::thread([&] {
      main_thread.run_and_wait([&] {
        ran_inside = modal.isRunning();
        modal.quit();
      });
    });
  });
  // Bounded: a lost call would otherwise hang the test.
  QTimer::singleShot(5000, &modal, [&] { modal.exit(1); });
  EXPECT_EQ(modal.exec(), 0);
  worker.join();
  EXPECT_TRUE(ran_inside);
}

TEST(QtMainThread, MainThreadWaitingForAWorkerKeepsRunningItsCalls) {
  qt_app();
  QtMainThread main_thread;
  std::atomic<bool> ended{false};
  int ticks = 0;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) main_thread.run_and_wait([&] { ++ticks; });
    ended = true;
    main_thread.notify();
  });
  // No event loop runs here: pump_until alone must serve the worker.
  main_thread.pump_until([&] { return ended.load(); });
  worker.join();
  EXPECT_EQ(ticks, 3);
}

TEST(QtMainThread, ManyWorkersAllServedInOrderOfEachWorker) {
  qt_app();
  QtMainThread main_thread;
  constexpr int kWorkers = 4, kCalls = 50;
  std::vector<std::vector<int>> seen(kWorkers);
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kCalls; ++i)
        main_thread.run_and_wait([&, w, i] { seen[w].push_back(i); });
      ++finished;
    });
  }
  ASSERT_TRUE(process_until([&] { return finished.load() == kWorkers; }, 20000));
  for (auto& worker : workers) worker.join();
  for (int w = 0; w < kWorkers; ++w) {
    ASSERT_EQ(seen[w].size(), static_cast<size_t>(kCalls));
    for (int i = 0; i < kCalls; ++i) EXPECT_EQ(seen[w][i], i);
  }
}

}  // namespace
}  // namespace tarvion
