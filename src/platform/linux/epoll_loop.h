// The console program's main loop: one epoll set for every descriptor the
// program waits on, so an idle program sleeps in one system call and wakes
// only for work.
#pragma once

// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>

#include "base/call_queue.h"
#include "platform/posix/fd_watcher.h"

namespace tarvion {

class EpollLoop : public FdWatcher {
 public:
  // Throws std::system_error when the kernel gives no epoll set or eventfd.
  EpollLoop();
  ~EpollLoop() override;
  EpollLoop(const EpollLoop&) = delete;
  EpollLoop& operator=(const EpollLoop&) = delete;

  // Main thread. events: EPOLLIN / EPOLLOUT; handler gets the ready bits
  // (EPOLLERR and EPOLLHUP always count).
  void watch_events(int fd, uint32_t events, std::function<void(uint32_t)> handler);
  void change_events(int fd, uint32_t events);
  void watch(int fd, std::function<void()> on_readable) override;
  void watch_io(int fd, bool want_write, std::function<void()> on_ready) override;
  void set_write_interest(int fd, bool want_write) override;
  void unwatch(int fd) override;

  // Main thread: runs fn from the loop, after the handler that is running.
  void post(std::function<void()> fn) override;
  // Any thread: the loop runs on_wake (set by the main thread) soon. Several
  // wakes before it comes round run it once.
  void wake();
  void set_on_wake(std::function<void()> on_wake) { on_wake_ = std::move(on_wake); }

  // Main thread: runs handlers until quit(); returns its code.
  int run();
  // One pass: waits up to timeout_ms (-1: no limit) and runs what is ready.
  void run_once(int timeout_ms);
  void quit(int code);

 private:
  struct Watch {
    int fd;
    std::function<void(uint32_t)> handler;
  };
  void run_posted();

  int epoll_fd_ = -1;
  int wake_fd_ = -1;
  std::function<void()> on_wake_;
  // Keyed by a number never reused, so an event of a descriptor unwatched in
  // the same pass (and perhaps reopened under the same number) is dropped.
  std::map<uint64_t, std::shared_ptr<Watch>> watches_;
  std::map<int, uint64_t> by_fd_;
  uint64_t next_key_ = 1;
  std::deque<std::function<void()>> posted_;
  bool quit_ = false;
  int exit_code_ = 0;
};

// The hand-off queue of the console program, woken through the loop's eventfd.
class EpollMainThread : public QueuedMainThread {
 public:
  // Construct on the thread that runs the loop.
  explicit EpollMainThread(EpollLoop& loop);
  ~EpollMainThread() override;

 protected:
  void wake() override { loop_.wake(); }

 private:
  EpollLoop& loop_;
};

}  // namespace tarvion
