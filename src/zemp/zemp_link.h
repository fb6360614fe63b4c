// The ZEMP link as the program spine sees it: the variable table, the
// receive buffer, the socket's event handlers and the exchange.
#pragma once

#include <functional>
#include <string>

#include "base/program_flags.h"
#include "radio/radio_state.h"
#include "zemp/client_socket.h"

namespace tarvion {

// What the link needs from above, wired by the shell.
struct ZempHooks {
  std::function<void(const std::string&)> set_status;   // Label9
  std::function<void(bool)> set_retry_timer;             // ThreadedTimer1.Enabled
  std::function<void(const std::string&)> report_error;  // the error box
};

class ZempLink {
 public:
  ZempLink(ClientSocket& socket, RadioState& radio, ProgramFlags& flags, ZempHooks hooks);

  void create_zemp_variables();
  void clear_receive_buffer();
  // Sends every marked radio whose value changed.
  void zemp_exchange();

 private:
  ClientSocket& socket_;
  RadioState& radio_;
  ProgramFlags& flags_;
  ZempHooks hooks_;
};

}  // namespace tarvion
