// The thread-priority hook of the Linux program's threaded timers: best effort,
// since an ordinary user may only lower a thread's priority.
#pragma once

// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include "base/timer.h"

namespace tarvion {

// The nice value that stands for a priority (19 idle .. -20 time critical).
int nice_for_priority(TThreadPriority priority);

// Applies priority to the calling thread. tpTimeCritical asks for round-robin
// real-time scheduling first and falls back to the nice value; false when the
// system refused both.
bool apply_thread_priority(TThreadPriority priority);

}  // namespace tarvion
