// The virtual platform's main thread: the test thread itself, which drains
// the calls that worker threads queue by calling run_pending() or pump_until().
#pragma once

#include "base/call_queue.h"

namespace tarvion {

class VirtualMainThread : public QueuedMainThread {};

}  // namespace tarvion
