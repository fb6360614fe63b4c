// The FSUIPC link as the program spine sees it: start-up state, the connect
// attempt of timer 3 and the exchange of the main cycle.
#pragma once

#include <functional>
#include <string>

#include "base/program_flags.h"
#include "fsuipc/ipc_transport.h"
#include "radio/panels.h"

namespace tarvion {

struct FsuipcHooks {
  std::function<void(const std::string&)> set_status;  // Label16
};

class FsuipcLink {
 public:
  FsuipcLink(IpcTransport& ipc, RadioContext ctx, ProgramFlags& flags, FsuipcHooks hooks);

  // Start-up: values read := 0, previous copies := 99999.
  void reset_exchange_state();
  void fill_fsuipc_read_table();
  void fsuipc_connect();
  void fsuipc_exchange();
  void fsuipc_close();

 private:
  IpcTransport& ipc_;
  RadioContext ctx_;
  ProgramFlags& flags_;
  FsuipcHooks hooks_;
};

}  // namespace tarvion
