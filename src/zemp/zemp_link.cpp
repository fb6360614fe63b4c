#include "zemp/zemp_link.h"

#include <vector>

#include "base/call_queue.h"
#include "base/error.h"
#include "zemp/zemp_messages.h"

namespace tarvion {

ZempLink::ZempLink(MainThread& main_thread, ClientSocket& socket, RadioState& radio,
                   ProgramFlags& flags, ZempHooks hooks)
    : main_thread_(main_thread),
      socket_(socket),
      radio_(radio),
      flags_(flags),
      hooks_(std::move(hooks)) {
  receive_actions_.send = [this](std::string_view text) { socket_.send_text(text); };
  receive_actions_.apply_received_pair = [this](int32_t number, int32_t value) {
    apply_received_pair(number, value);
  };
  socket_.set_events(ClientSocketEvents{
      [this] { ClientSocket1Connect(); },
      [this] { ClientSocket1Disconnect(); },
      [this] { ClientSocket1Read(); },
      [this](SocketError error, bool connection_ended) {
        ClientSocket1Error(error, connection_ended);
      },
  });
}

ZempLink::~ZempLink() {
  // The socket may outlive the link; no event may reach it afterwards.
  socket_.set_events({});
}

void ZempLink::create_zemp_variables() {
  zemp_variables_ = make_zemp_variables();
}

void ZempLink::clear_receive_buffer() {
  zemp_receive_buffer_.clear();
}

void ZempLink::zemp_exchange() {
  for (int r = 0; r < kRadioCount; ++r) {
    const auto index = static_cast<RadioIndex>(r);
    if (!radio_.radio_dirty[index]) continue;
    set_local_value(zemp_variables_[zemp_position_of_radio(index)], zemp_wire_value(radio_, index));
    radio_.radio_dirty[index] = 0;
  }
}

void ZempLink::set_local_value(TVariable& variable, int32_t new_value) {
  variable.value = new_value;
  if (variable.value == variable.last_value) return;
  variable.on_change();
  send_variable(variable);
  variable.last_value = variable.value;
}

void ZempLink::send_variable(const TVariable& variable) {
  if (!socket_.is_active()) return;
  const ZempPair pair{variable.number, variable.value};
  socket_.send_text(build_values_message({&pair, 1}));
}

void ZempLink::set_remote_value(TVariable& variable, int32_t received_value) {
  variable.value = received_value;
  if (variable.value == variable.last_value) return;
  variable.on_change();
  variable.last_value = variable.value;
}

void ZempLink::apply_received_pair(int32_t number, int32_t value) {
  for (int position = 0; position < kZempVariableCount; ++position) {
    TVariable& variable = zemp_variables_[position];
    if (variable.number != number) continue;
    // Only a change is news: a value equal to the last one on the wire is the
    // server repeating what the program sent or was told.
    const bool changed = value != variable.last_value;
    set_remote_value(variable, value);
    if (changed && hooks_.received_radio_value) {
      hooks_.received_radio_value(kZempSlots[position].radio, zemp_radio_value(position, value));
    }
    return;
  }
}

void ZempLink::send_goodbye() {
  if (socket_.is_active()) socket_.send_text(kZempGoodbye);
}

void ZempLink::ClientSocket1Connect() {
  assert_main_thread(main_thread_);
  // Bytes left from an earlier connection can never complete a line of this
  // one; kept, they would spoil its first line (a keep-alive left unanswered,
  // a values line reported as bad data).
  zemp_receive_buffer_.clear();
  hooks_.set_status("Online");
  hooks_.set_retry_timer(false);
  // Every registered variable with its current value; last_value stays as it is.
  std::vector<ZempPair> pairs;
  for (const TVariable& variable : zemp_variables_) {
    if (variable.number < 1000) pairs.push_back({variable.number, variable.value});
  }
  socket_.send_text(build_values_message(pairs));
}

void ZempLink::ClientSocket1Disconnect() {
  assert_main_thread(main_thread_);
  hooks_.set_status("Disconnected");
  socket_.close();
  hooks_.set_retry_timer(true);  // its next tick, 4 s on, tries again
  flags_.connect_pending = false;
}

void ZempLink::ClientSocket1Read() {
  assert_main_thread(main_thread_);
  try {
    zemp_receive_buffer_.on_data_received(socket_.receive_text(), receive_actions_);
  } catch (const TarvionError& error) {
    hooks_.report_error(error.what());
  }
}

void ZempLink::ClientSocket1Error(SocketError, bool connection_ended) {
  assert_main_thread(main_thread_);
  // Socket errors are never shown. Whatever made an attempt fail (refused,
  // time-out, host not found, network down), the retry tick must try again:
  // with the attempt still counted as pending, an unreachable server would
  // never be tried again.
  flags_.connect_pending = false;
  // A connection that an error ended is as gone as one closed in order:
  // without this the link would show "Online" on a dead connection until a
  // send failed, and with no radio changing nothing is sent.
  if (connection_ended) ClientSocket1Disconnect();
}

}  // namespace tarvion
