// SIGINT and SIGTERM reach the program as an event of its loop, never inside
// the signal handler.
#include "platform/linux/qt_signal_watch.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <vector>

#include "qt_test_app.h"

namespace tarvion {
namespace {

using test::process_for;
using test::process_until;
using test::qt_app;

TEST(SignalWatch, EachSignalArrivesOnTheLoopWithItsNumber) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    qt_app();
    std::vector<int> seen;
    SignalWatch watch([&](int s) { seen.push_back(s); });
    ::raise(signal);
    EXPECT_TRUE(seen.empty());  // not from inside the handler
    ASSERT_TRUE(process_until([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, std::vector<int>{signal});
  }
}

TEST(SignalWatch, SignalsBeforeTheLoopCameRoundCloseOnce) {
  qt_app();
  int calls = 0;
  SignalWatch watch([&](int) { ++calls; });
  ::raise(SIGTERM);
  ::raise(SIGINT);
  ::raise(SIGTERM);
  ASSERT_TRUE(process_until([&] { return calls > 0; }));
  process_for(50);
  EXPECT_EQ(calls, 1);
}

TEST(SignalWatch, OnlyOneWatchPerProcessAndTheNextAfterItEnds) {
  qt_app();
  {
    SignalWatch first([](int) {});
    EXPECT_THROW(SignalWatch([](int) {}), std::logic_error);
  }
  int calls = 0;
  SignalWatch again([&](int) { ++calls; });
  ::raise(SIGINT);
  ASSERT_TRUE(process_until([&] { return calls == 1; }));
}

TEST(SignalWatch, SignalsDuringAndAfterTheCloseNeitherRepeatItNorKillTheProcess) {
  qt_app();
  int calls = 0;
  {
    SignalWatch watch([&](int) { ++calls; });
    EXPECT_FALSE(watch.requested());
    ::raise(SIGTERM);
    EXPECT_TRUE(watch.requested());  // known before the loop comes round
    ASSERT_TRUE(process_until([&] { return calls == 1; }));
  }
  // The watch is gone, as in the program's teardown: this process lives on.
  for (int signal : {SIGTERM, SIGINT, SIGTERM}) ::raise(signal);
  process_for(50);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace tarvion
