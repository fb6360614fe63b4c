#include "base/thread_launcher.h"

#include <system_error>

#include "base/error.h"

namespace tarvion {

std::thread launch_thread(const ThreadLauncher& launcher, std::function<void()> body) {
  try {
    if (launcher) return launcher(std::move(body));
    return std::thread(std::move(body));
  } catch (const std::system_error& error) {
    // Out of threads or memory: an error the program shows, not a crash.
    throw TarvionError(std::string("Thread creation error: ") + error.code().message());
  }
}

}  // namespace tarvion
