// What main hands to either stand-in, and what it asks of one.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace sim_standin {

struct StandinOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;  // 0: the system picks a free one
  std::chrono::milliseconds latency{0};
};

class Standin {
 public:
  virtual ~Standin() = default;
  // Opens the socket and prints the "listening on" line; throws std::system_error.
  virtual void start() = 0;
  // One line from standard input; false when it asks to quit.
  virtual bool command(const std::string& line) = 0;
};

}  // namespace sim_standin
