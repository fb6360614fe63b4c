#include "fsuipc/fsuipc_link.h"

namespace tarvion {

FsuipcLink::FsuipcLink(IpcTransport& ipc, RadioContext ctx, ProgramFlags& flags, FsuipcHooks hooks)
    : ctx_(ctx),
      flags_(flags),
      hooks_(std::move(hooks)),
      client_(ipc, hooks_.close_requested),
      exchange_(client_, ctx) {}

void FsuipcLink::set_status(std::string_view text) {
  if (hooks_.set_status) hooks_.set_status(std::string(text));
}

void FsuipcLink::reset_exchange_state() {
  exchange_.reset_exchange_state();
}

void FsuipcLink::fill_fsuipc_read_table() {
  exchange_.fill_fsuipc_read_table();
}

void FsuipcLink::fsuipc_connect() {
  // A lost link still holds its block; release it before opening anew.
  if (!flags_.fsuipc_linked) client_.fsuipc_close();
  FsuipcCode code = FsuipcCode::ok;
  const bool opened = client_.fsuipc_open(kAnySimulator, code);
  set_status(fsuipc_error_text(code));
  flags_.fsuipc_linked = opened;
  flags_.fsuipc_retry = !opened;
}

void FsuipcLink::fsuipc_exchange() {
  if (exchange_.fsuipc_exchange()) return;
  // The link stays open here; the next connect attempt closes and reopens it.
  flags_.fsuipc_linked = false;
  set_status("Disconnected");
  ctx_.state.radio_dirty.fill(1);
  flags_.fsuipc_retry = true;
}

void FsuipcLink::fsuipc_close() {
  client_.fsuipc_close();
}

}  // namespace tarvion
