// The FSUIPC link as the program spine sees it: start-up state, the connect
// attempt of timer 3 and the exchange of the main cycle. One per Program.
#pragma once

#include <functional>
#include <string>

#include "base/program_flags.h"
#include "fsuipc/fsuipc_client.h"
#include "fsuipc/fsuipc_exchange.h"
#include "fsuipc/ipc_transport.h"
#include "radio/panels.h"

namespace tarvion {

struct FsuipcHooks {
  std::function<void(const std::string&)> set_status;  // Label16
  // True once a close is requested; may be set by another thread.
  std::function<bool()> close_requested = {};
};

class FsuipcLink {
 public:
  FsuipcLink(IpcTransport& ipc, RadioContext ctx, ProgramFlags& flags, FsuipcHooks hooks);

  // Start-up: values read := 0, previous copies := 99999.
  void reset_exchange_state();
  void fill_fsuipc_read_table();
  // One connect attempt: sets fsuipc_linked on success, fsuipc_retry on failure,
  // and shows the outcome's text.
  void fsuipc_connect();
  // One exchange; a failed write drops the link ("Disconnected") and asks
  // for a new connect attempt.
  void fsuipc_exchange();
  void fsuipc_close();

  FsuipcClient& client() { return client_; }
  const FsuipcReadTable& fsuipc_read_table() const { return exchange_.fsuipc_read_table(); }

 private:
  void set_status(std::string_view text);

  RadioContext ctx_;
  ProgramFlags& flags_;
  FsuipcHooks hooks_;
  FsuipcClient client_;
  FsuipcExchange exchange_;
};

}  // namespace tarvion
