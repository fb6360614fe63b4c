// Stand-in for X-Plane's UDP interface: RREF subscriptions answered
// periodically, DREF writes, and the pilot's knob turns from standard input.
#pragma once

#include <array>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "delay_queue.h"
#include "standin.h"

namespace sim_standin {

class XPlaneStandin : public Standin {
 public:
  XPlaneStandin(asio::io_context& io, const StandinOptions& options);
  void start() override;
  bool command(const std::string& line) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Subscription {
    std::string name;
    int32_t freq = 0;
  };
  // Everything one client address asked for, keyed by the client's own index.
  struct Subscriber {
    std::map<int32_t, Subscription> subscriptions;
    Clock::time_point next_answer;
  };
  struct Datagram {
    asio::ip::udp::endpoint to;
    std::vector<uint8_t> bytes;
  };

  void receive();
  void on_datagram(size_t size);
  void on_rref(int32_t freq, int32_t index, const std::string& name);
  void on_dref(float value, const std::string& name);
  static Clock::duration period_of(const Subscriber& subscriber);
  void schedule();
  void on_tick();
  void answer(const asio::ip::udp::endpoint& to, const Subscriber& subscriber);
  float value_of(const std::string& name) const;
  bool store(const std::string& name, float value);

  asio::io_context& io_;
  StandinOptions options_;
  asio::ip::udp::socket socket_;
  asio::ip::udp::endpoint sender_;
  std::array<uint8_t, 65536> buffer_{};  // a whole datagram, so its size is known
  std::map<std::string, float> datarefs_;
  std::map<asio::ip::udp::endpoint, Subscriber> subscribers_;
  asio::steady_timer answer_timer_;
  bool paused_ = false;
  DelayQueue<Datagram> outgoing_;
};

}  // namespace sim_standin
