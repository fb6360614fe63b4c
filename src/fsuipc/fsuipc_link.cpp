#include "fsuipc/fsuipc_link.h"

namespace tarvion {

FsuipcLink::FsuipcLink(IpcTransport& ipc, RadioContext ctx, ProgramFlags& flags, FsuipcHooks hooks)
    : ipc_(ipc), ctx_(ctx), flags_(flags), hooks_(std::move(hooks)) {}

// Not built yet: the exchange state arrives with the FSUIPC link.
void FsuipcLink::reset_exchange_state() {}
// Not built yet: the read table arrives with the FSUIPC link.
void FsuipcLink::fill_fsuipc_read_table() {}
// Not built yet: the connect attempt arrives with the FSUIPC link.
void FsuipcLink::fsuipc_connect() {}
// Not built yet: the exchange arrives with the FSUIPC link.
void FsuipcLink::fsuipc_exchange() {}
// Not built yet: closing arrives with the FSUIPC link.
void FsuipcLink::fsuipc_close() {}

}  // namespace tarvion
