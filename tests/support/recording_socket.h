// The ZEMP socket of tests that run a whole Program: it connects only when a
// test says so (active, events), and records what the program did with it.
// Left alone it is a server that never answers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zemp/client_socket.h"

namespace tarvion::testing {

class RecordingSocket : public ClientSocket {
 public:
  void set_host(const std::string& h) override { host = h; }
  void set_port(int32_t p) override { port = p; }
  void open() override { ++opens; }
  void close() override {
    ++closes;
    active = false;
  }
  bool is_active() const override { return active; }
  void send_text(std::string_view text) override {
    if (active) sent.emplace_back(text);
  }
  std::string receive_text() override { return {}; }
  void set_events(ClientSocketEvents e) override { events = std::move(e); }

  std::string host;
  int32_t port = -1;
  int opens = 0;
  int closes = 0;
  bool active = false;
  std::vector<std::string> sent;
  ClientSocketEvents events;
};

}  // namespace tarvion::testing
