// The ZEMP link as the program spine sees it: the variable table, the
// receive buffer, the socket's event handlers and the exchange.
#pragma once

#include <functional>
#include <string>

#include "base/main_thread.h"
#include "base/program_flags.h"
#include "radio/radio_state.h"
#include "zemp/client_socket.h"
#include "zemp/zemp_receive_buffer.h"
#include "zemp/zemp_variables.h"

namespace tarvion {

// What the link needs from above, wired by the shell.
struct ZempHooks {
  std::function<void(const std::string&)> set_status;    // Label9
  std::function<void(bool)> set_retry_timer;             // ThreadedTimer1.Enabled
  std::function<void(const std::string&)> report_error;  // the error box
  // A received value that moved away from its variable's last wire value, in
  // radio_value units (FOLLOW_SIM); empty: received values stay on the wire side.
  std::function<void(RadioIndex, int64_t)> received_radio_value = {};
};

class ZempLink {
 public:
  // Binds the four socket events to the handlers below; the destructor unbinds them.
  ZempLink(MainThread& main_thread, ClientSocket& socket, RadioState& radio, ProgramFlags& flags,
           ZempHooks hooks);
  ~ZempLink();
  ZempLink(const ZempLink&) = delete;
  ZempLink& operator=(const ZempLink&) = delete;

  void create_zemp_variables();
  void clear_receive_buffer();
  // Sends every marked radio whose value changed, in radio order, and clears its mark.
  void zemp_exchange();

  // The program's side of a change: runs on_change and sends when the value
  // moved away from last_value (sent or not, last_value follows).
  void set_local_value(TVariable& variable, int32_t new_value);
  // A one-pair values line, when connected.
  void send_variable(const TVariable& variable);
  // The server's side of a change: recorded, never sent back.
  void set_remote_value(TVariable& variable, int32_t received_value);
  // "Arn.Fin:" when connected, right before the program closes the socket.
  void send_goodbye();
  // A received pair for the first variable with that number; unknown numbers
  // are ignored. A change also goes to received_radio_value.
  void apply_received_pair(int32_t number, int32_t value);

  // Socket events; the backend delivers them on the main thread (checked in debug builds).
  void ClientSocket1Connect();
  void ClientSocket1Disconnect();
  void ClientSocket1Read();
  void ClientSocket1Error(SocketError error, bool connection_ended);

  const ZempVariables& zemp_variables() const { return zemp_variables_; }
  ZempVariables& zemp_variables() { return zemp_variables_; }
  const ZempReceiveBuffer& zemp_receive_buffer() const { return zemp_receive_buffer_; }

 private:
  MainThread& main_thread_;
  ClientSocket& socket_;
  RadioState& radio_;
  ProgramFlags& flags_;
  ZempHooks hooks_;
  ZempVariables zemp_variables_;
  ZempReceiveBuffer zemp_receive_buffer_;
  ZempReceiveActions receive_actions_;
};

}  // namespace tarvion
