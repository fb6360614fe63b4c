// The single-instance rule both programs follow: the first one holds the
// guard; a later one tells the first it was started and ends.
#pragma once

#include "shell/instance_guard.h"

namespace tarvion {

// True: this process is the only instance and goes on. False: another one
// runs and has been signalled; the caller ends with exit code 0 (a console
// program saying so on stderr, the window program showing nothing).
bool claim_single_instance(InstanceGuard& guard);

}  // namespace tarvion
