// The thread-priority hook of the Windows programs' threaded timers.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "base/timer.h"

namespace tarvion {

// The Windows priority that stands for a timer priority (-15 idle .. 15 time critical).
int windows_thread_priority(TThreadPriority priority);

// Applies priority to the calling thread; false when the system refused.
bool apply_win32_thread_priority(TThreadPriority priority);

}  // namespace tarvion
