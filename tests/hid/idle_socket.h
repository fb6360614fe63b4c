// A ZEMP socket that never connects: the HID tests run the program in FSUIPC
// mode and need none.
#pragma once

#include <string>

#include "zemp/client_socket.h"

namespace tarvion::testing {

class IdleSocket : public ClientSocket {
 public:
  void set_host(const std::string&) override {}
  void set_port(int32_t) override {}
  void open() override {}
  void close() override {}
  bool is_active() const override { return false; }
  void send_text(std::string_view) override {}
  std::string receive_text() override { return {}; }
  void set_events(ClientSocketEvents) override {}
};

}  // namespace tarvion::testing
