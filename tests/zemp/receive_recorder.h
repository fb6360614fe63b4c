// Feeds a ZempReceiveBuffer and records what it does, one line per action:
// "pair 256=11800", "send Arn.Vivo:\r\n" (escaped), "error <message>".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "platform/virtual/in_memory_socket.h"
#include "zemp/zemp_receive_buffer.h"

namespace tarvion {

struct ReceiveRecorder {
  ZempReceiveBuffer buffer;
  std::vector<std::string> events;
  ZempReceiveActions actions{
      [this](std::string_view text) { events.push_back("send " + show_wire_text(text)); },
      [this](int32_t number, int32_t value) {
        events.push_back("pair " + std::to_string(number) + "=" + std::to_string(value));
      },
  };

  // One arrival; a conversion error is recorded as the error box would show it.
  void feed(std::string_view bytes) {
    try {
      buffer.on_data_received(bytes, actions);
    } catch (const TarvionError& error) {
      events.push_back(std::string("error ") + error.what());
    }
  }

  // Every arrival in turn, then empty arrivals until no complete line is left
  // behind by an error.
  void feed_all(const std::vector<std::string>& arrivals) {
    for (const std::string& bytes : arrivals) feed(bytes);
    for (size_t before = events.size() + 1; before != events.size();) {
      before = events.size();
      feed("");
    }
  }
};

}  // namespace tarvion
