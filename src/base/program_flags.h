// Program-wide flags shared by the shell and the links (one instance, owned by Program).
#pragma once

namespace tarvion {

struct ProgramFlags {
  bool connect_pending = false;  // a ZEMP attempt started by timer 1 is outstanding
  bool fsuipc_linked = false;    // the FSUIPC link is open
  bool fsuipc_retry = false;     // the FSUIPC link is wanted and not open
  bool panels_ready = false;     // the panel layer is started; its lists exist
};

}  // namespace tarvion
