// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include "platform/linux/qt_thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tarvion {

int nice_for_priority(TThreadPriority priority) {
  switch (priority) {
    case TThreadPriority::tpIdle:
      return 19;
    case TThreadPriority::tpLowest:
      return 10;
    case TThreadPriority::tpLower:
      return 5;
    case TThreadPriority::tpNormal:
      return 0;
    case TThreadPriority::tpHigher:
      return -5;
    case TThreadPriority::tpHighest:
      return -10;
    case TThreadPriority::tpTimeCritical:
      return -20;
  }
  return 0;
}

bool apply_thread_priority(TThreadPriority priority) {
  // A worker may have been real-time before; every other priority is a nice
  // value under the ordinary scheduler.
  sched_param param{};
  if (priority == TThreadPriority::tpTimeCritical) {
    // The timer's worker only waits and hands over, so a real-time slot costs
    // the system nothing and keeps the 20 ms cycle steady under load.
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0) return true;
  } else {
    int policy = SCHED_OTHER;
    sched_param current{};
    if (pthread_getschedparam(pthread_self(), &policy, &current) == 0 && policy != SCHED_OTHER) {
      param.sched_priority = 0;
      pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
    }
  }
  // On Linux the nice value belongs to the thread, named by its kernel id.
  auto tid = static_cast<id_t>(syscall(SYS_gettid));
  return setpriority(PRIO_PROCESS, tid, nice_for_priority(priority)) == 0;
}

}  // namespace tarvion
