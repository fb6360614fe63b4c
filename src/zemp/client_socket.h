// The asynchronous TCP client seam of the ZEMP link. Every event is delivered
// on the main thread, never from inside a call the logic makes on the socket.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarvion {

// The logic's own error codes; each backend maps its OS codes onto them.
enum class SocketError { refused, timed_out, host_not_found, reset, other };

// Every end of an established connection is reported exactly once: by
// on_disconnect when it closed in order, or by on_error with connection_ended
// true when an error ended it (a reset, a failed send). A failed attempt is
// on_error with connection_ended false. close() by the logic reports nothing.
struct ClientSocketEvents {
  std::function<void()> on_connect;
  std::function<void()> on_disconnect;
  std::function<void()> on_read;
  std::function<void(SocketError error, bool connection_ended)> on_error;
};

class ClientSocket {
 public:
  virtual ~ClientSocket() = default;
  virtual void set_host(const std::string& host) = 0;
  virtual void set_port(int32_t port) = 0;
  // Starts a connection attempt; it ends in on_connect or on_error. A call
  // while an attempt is under way may restart it; only the latest attempt's
  // events are delivered.
  virtual void open() = 0;
  // Closes an open connection or abandons an attempt; nothing when there is none.
  virtual void close() = 0;
  // True from on_connect until the connection's end is reported (or close()).
  virtual bool is_active() const = 0;
  // Ignored while not connected.
  virtual void send_text(std::string_view text) = 0;
  // Everything received and not yet taken.
  virtual std::string receive_text() = 0;
  virtual void set_events(ClientSocketEvents events) = 0;
};

}  // namespace tarvion
