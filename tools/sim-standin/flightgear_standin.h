// Stand-in for FlightGear's property server (its telnet interface): prompt
// and data modes, get / set, subscriptions, and restarts from standard input.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "standin.h"

namespace sim_standin {

class FlightGearStandin : public Standin {
 public:
  FlightGearStandin(asio::io_context& io, const StandinOptions& options);
  void start() override;
  bool command(const std::string& line) override;

 private:
  struct Client;

  std::string where() const;
  void listen();  // throws std::system_error
  void listen_again();
  void wait_then(std::chrono::milliseconds delay, std::function<void()> then);
  void accept();
  void handle_line(Client& client, const std::string& line);
  // Stores the value and tells every subscriber of the property.
  void set_property(const std::string& path, const std::string& value);
  void close_client(Client& client);

  asio::io_context& io_;
  StandinOptions options_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer listen_timer_;  // listening again, or accepting again
  unsigned listen_generation_ = 0;
  std::map<std::string, std::string> properties_;  // by path without "[0]"
  std::set<std::shared_ptr<Client>> clients_;
};

}  // namespace sim_standin
