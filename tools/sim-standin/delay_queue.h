// Holds outgoing items for --latency and hands them on in the order they
// were queued, so a slow stand-in is late but never out of order.
#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <system_error>
#include <utility>

namespace sim_standin {

template <typename Item>
class DelayQueue {
 public:
  using Clock = std::chrono::steady_clock;

  DelayQueue(asio::io_context& io, std::chrono::milliseconds delay,
             std::function<void(Item&)> deliver)
      : timer_(io), delay_(delay), deliver_(std::move(deliver)) {}

  void push(Item item) {
    if (delay_.count() <= 0) {
      deliver_(item);
      return;
    }
    items_.emplace_back(Clock::now() + delay_, std::move(item));
    if (items_.size() == 1) arm();
  }

  void clear() {
    items_.clear();
    timer_.cancel();
  }

 private:
  void arm() {
    timer_.expires_at(items_.front().first);
    // A wait that had already completed may still run after this queue is
    // gone; the weak token tells it so.
    timer_.async_wait([this, alive = std::weak_ptr<char>(alive_)](std::error_code error) {
      if (!error && !alive.expired()) fire();
    });
  }

  void fire() {
    auto now = Clock::now();
    while (!items_.empty() && items_.front().first <= now) {
      Item item = std::move(items_.front().second);
      items_.pop_front();
      deliver_(item);
    }
    if (!items_.empty()) arm();
  }

  asio::steady_timer timer_;
  std::chrono::milliseconds delay_;
  std::function<void(Item&)> deliver_;
  std::deque<std::pair<Clock::time_point, Item>> items_;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace sim_standin
