// The timers' priority hook changes the calling thread's own nice value.
#include "platform/linux/qt_thread_priority.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

namespace tarvion {
namespace {

int own_nice() {
  return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
}

TEST(ThreadPriority, LowerPrioritiesBecomeTheThreadsOwnNiceValue) {
  // Raising the nice value is always allowed, so these hold for any user.
  struct Case {
    TThreadPriority priority;
    int nice;
  };
  for (Case c : {Case{TThreadPriority::tpLower, 5}, Case{TThreadPriority::tpLowest, 10},
                 Case{TThreadPriority::tpIdle, 19}}) {
    SCOPED_TRACE(c.nice);
    int before_main = own_nice();
    int seen = -100;
    bool applied = false;
    std::thread worker([&] {
      applied = apply_thread_priority(c.priority);
      seen = own_nice();
    });
    worker.join();
    EXPECT_TRUE(applied);
    EXPECT_EQ(seen, c.nice);
    EXPECT_EQ(own_nice(), before_main);  // the other threads keep theirs
  }
}

TEST(ThreadPriority, LeavingTimeCriticalReturnsToTheOrdinaryScheduler) {
  // Whether or not this user may have real-time scheduling, a later ordinary
  // priority must leave the thread under the ordinary scheduler.
  int policy = -1;
  int nice = 100;
  bool applied = false;
  std::thread worker([&] {
    apply_thread_priority(TThreadPriority::tpTimeCritical);
    applied = apply_thread_priority(TThreadPriority::tpLower);
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy, &param);
    nice = own_nice();
  });
  worker.join();
  EXPECT_TRUE(applied);
  EXPECT_EQ(policy, SCHED_OTHER);
  EXPECT_EQ(nice, 5);
}

}  // namespace
}  // namespace tarvion
