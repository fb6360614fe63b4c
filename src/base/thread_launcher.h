// Starting worker threads (timers, panel read threads): the one place where
// thread creation can fail, and a seam through which a test makes it fail.
#pragma once

#include <functional>
#include <thread>

namespace tarvion {

// Starts body on a new thread; throws std::system_error when the system
// cannot (that is what std::thread does). Empty: std::thread itself.
using ThreadLauncher = std::function<std::thread(std::function<void()> body)>;

// Starts body with launcher; a thread that cannot be created raises
// TarvionError "Thread creation error: <the system's message>".
std::thread launch_thread(const ThreadLauncher& launcher, std::function<void()> body);

}  // namespace tarvion
