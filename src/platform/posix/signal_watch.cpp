// clang-format off
#include "platform/posix/posix_only.h"  // first: this file is POSIX-only
// clang-format on

#include "platform/posix/signal_watch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>

#include "platform/posix/descriptors.h"

namespace tarvion {

namespace {

// The write end for the handler. A signal handler can reach nothing but
// process-wide state; this is the one place of it.
std::atomic<int> g_signal_fd{-1};
std::atomic<bool> g_signal_seen{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "used from a signal handler");

extern "C" void on_signal_caught(int signal) {
  int saved = errno;
  g_signal_seen.store(true);
  int fd = g_signal_fd.load();
  if (fd >= 0) {
    auto byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

void set_handler(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

SignalWatch::SignalWatch(FdWatcher& loop, std::function<void(int)> on_signal)
    : loop_(loop), on_signal_(std::move(on_signal)) {
  if (!owned_pair(fds_, true))
    throw std::runtime_error("cannot create the signal pipe");
  int expected = -1;
  if (!g_signal_fd.compare_exchange_strong(expected, fds_[1])) {
    ::close(fds_[0]);
    ::close(fds_[1]);
    throw std::logic_error("one SignalWatch per process");
  }
  loop_.watch(fds_[0], [this] { drain(); });
  g_signal_seen.store(false);
  set_handler(SIGINT, on_signal_caught);
  set_handler(SIGTERM, on_signal_caught);
}

SignalWatch::~SignalWatch() {
  g_signal_fd.store(-1);
  loop_.unwatch(fds_[0]);
  ::close(fds_[0]);
  ::close(fds_[1]);
}

bool SignalWatch::requested() const {
  return g_signal_seen.load();
}

void SignalWatch::drain() {
  unsigned char bytes[64];
  ssize_t n = ::read(fds_[0], bytes, sizeof bytes);
  if (n <= 0) return;
  // Several signals before the loop came round close the program once.
  if (on_signal_) on_signal_(bytes[n - 1]);
}

}  // namespace tarvion
