// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include "platform/linux/epoll_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tarvion {

namespace {

constexpr uint64_t kWakeKey = 0;

[[noreturn]] void fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

EpollLoop::EpollLoop() {
  epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd_ < 0) fail("epoll_create1");
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    ::close(epoll_fd_);
    fail("eventfd");
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kWakeKey;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &event);
}

EpollLoop::~EpollLoop() {
  ::close(wake_fd_);
  ::close(epoll_fd_);
}

void EpollLoop::watch_events(int fd, uint32_t events, std::function<void(uint32_t)> handler) {
  unwatch(fd);
  uint64_t key = next_key_++;
  epoll_event event{};
  event.events = events;
  event.data.u64 = key;
  if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event) != 0) fail("epoll_ctl");
  watches_[key] = std::make_shared<Watch>(Watch{fd, std::move(handler)});
  by_fd_[fd] = key;
}

void EpollLoop::change_events(int fd, uint32_t events) {
  auto it = by_fd_.find(fd);
  if (it == by_fd_.end()) return;
  epoll_event event{};
  event.events = events;
  event.data.u64 = it->second;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, fd, &event);
}

void EpollLoop::watch(int fd, std::function<void()> on_readable) {
  watch_events(fd, EPOLLIN, [on_readable = std::move(on_readable)](uint32_t) { on_readable(); });
}

namespace {
uint32_t io_events(bool want_write) {
  return EPOLLIN | EPOLLRDHUP | (want_write ? uint32_t{EPOLLOUT} : 0u);
}
}  // namespace

void EpollLoop::watch_io(int fd, bool want_write, std::function<void()> on_ready) {
  watch_events(fd, io_events(want_write), [on_ready = std::move(on_ready)](uint32_t) { on_ready(); });
}

void EpollLoop::set_write_interest(int fd, bool want_write) {
  change_events(fd, io_events(want_write));
}

void EpollLoop::unwatch(int fd) {
  auto it = by_fd_.find(fd);
  if (it == by_fd_.end()) return;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
  watches_.erase(it->second);
  by_fd_.erase(it);
}

void EpollLoop::post(std::function<void()> fn) {
  posted_.push_back(std::move(fn));
}

void EpollLoop::wake() {
  uint64_t one = 1;
  // A full counter already holds a wake-up.
  [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void EpollLoop::run_posted() {
  // Only what was posted before this pass: a handler that posts again runs next pass.
  for (std::size_t n = posted_.size(); n > 0 && !posted_.empty(); --n) {
    auto fn = std::move(posted_.front());
    posted_.pop_front();
    fn();
  }
}

void EpollLoop::run_once(int timeout_ms) {
  epoll_event events[16];
  int ready = ::epoll_wait(epoll_fd_, events, 16, posted_.empty() ? timeout_ms : 0);
  for (int i = 0; i < ready; ++i) {
    uint64_t key = events[i].data.u64;
    if (key == kWakeKey) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = ::read(wake_fd_, &count, sizeof count);
      if (on_wake_) on_wake_();
      continue;
    }
    auto it = watches_.find(key);
    if (it == watches_.end()) continue;         // unwatched by an earlier handler of this pass
    std::shared_ptr<Watch> watch = it->second;  // kept while its handler may unwatch it
    watch->handler(events[i].events);
  }
  run_posted();
}

int EpollLoop::run() {
  quit_ = false;
  while (!quit_) run_once(-1);
  return exit_code_;
}

void EpollLoop::quit(int code) {
  exit_code_ = code;
  quit_ = true;
}

EpollMainThread::EpollMainThread(EpollLoop& loop) : loop_(loop) {
  loop_.set_on_wake([this] { run_pending(); });
}

EpollMainThread::~EpollMainThread() {
  loop_.set_on_wake({});
}

}  // namespace tarvion
