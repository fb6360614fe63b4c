// SIGINT and SIGTERM reach the program as an event of its loop, never inside
// the signal handler.
#include "platform/posix/signal_watch.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <vector>

#include "epoll_test_loop.h"

namespace tarvion {
namespace {

// The watch on the console program's loop (the window program's Qt loop
// reaches it through the same FdWatcher seam).
struct Loop {
  EpollLoop loop;
  bool until(const std::function<bool()>& done) { return test::run_until(loop, done); }
  void idle(int ms) { test::run_for(loop, ms); }
};

TEST(SignalWatch, EachSignalArrivesOnTheLoopWithItsNumber) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    Loop l;
    std::vector<int> seen;
    SignalWatch watch(l.loop, [&](int s) { seen.push_back(s); });
    ::raise(signal);
    EXPECT_TRUE(seen.empty());  // not from inside the handler
    ASSERT_TRUE(l.until([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, std::vector<int>{signal});
  }
}

TEST(SignalWatch, SignalsBeforeTheLoopCameRoundCloseOnce) {
  Loop l;
  int calls = 0;
  SignalWatch watch(l.loop, [&](int) { ++calls; });
  ::raise(SIGTERM);
  ::raise(SIGINT);
  ::raise(SIGTERM);
  ASSERT_TRUE(l.until([&] { return calls > 0; }));
  l.idle(50);
  EXPECT_EQ(calls, 1);
}

TEST(SignalWatch, OnlyOneWatchPerProcessAndTheNextAfterItEnds) {
  Loop l;
  {
    SignalWatch first(l.loop, [](int) {});
    EXPECT_THROW(SignalWatch(l.loop, [](int) {}), std::logic_error);
  }
  int calls = 0;
  SignalWatch again(l.loop, [&](int) { ++calls; });
  ::raise(SIGINT);
  ASSERT_TRUE(l.until([&] { return calls == 1; }));
}

TEST(SignalWatch, SignalsDuringAndAfterTheCloseNeitherRepeatItNorKillTheProcess) {
  Loop l;
  int calls = 0;
  {
    SignalWatch watch(l.loop, [&](int) { ++calls; });
    EXPECT_FALSE(watch.requested());
    ::raise(SIGTERM);
    EXPECT_TRUE(watch.requested());  // known before the loop comes round
    ASSERT_TRUE(l.until([&] { return calls == 1; }));
  }
  // The watch is gone, as in the program's teardown: this process lives on.
  for (int signal : {SIGTERM, SIGINT, SIGTERM}) ::raise(signal);
  l.idle(50);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace tarvion
