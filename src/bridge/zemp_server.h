// The ZEMP server side: any number of clients, each with its own bounded
// receive buffer, keep-alives and a time-out. Pure logic over the
// ServerConnection seam; time comes in as a value, so tests step it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zemp/zemp_messages.h"
#include "zemp/zemp_receive_buffer.h"

namespace tarvion::bridge {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// One accepted client connection, as the network layer keeps it.
class ServerConnection {
 public:
  virtual ~ServerConnection() = default;
  // Queues bytes; the connection writes them as the client takes them.
  virtual void send(std::string_view bytes) = 0;
  // Bytes queued and not yet taken by the client.
  virtual size_t unsent_bytes() const = 0;
  // Ends the connection; no further events for it are delivered.
  virtual void close() = 0;
};

inline constexpr Ms kKeepAliveInterval{5000};
// A client that sent nothing for this long (four keep-alives unanswered) is dropped.
inline constexpr Ms kClientSilenceLimit{20000};
// A client that stops reading is dropped once this much waits for it.
inline constexpr size_t kMaxUnsentBytes = 256 * 1024;

using ClientId = uint64_t;

struct ZempServerHooks {
  // The pairs of one arrival, the last value of each number only, in first-seen order.
  std::function<void(ClientId, const std::vector<ZempPair>&)> values;
  std::function<void(const std::string&)> log;      // always shown
  std::function<void(const std::string&)> verbose;  // shown with --verbose
};

class ZempServer {
 public:
  explicit ZempServer(ZempServerHooks hooks) : hooks_(std::move(hooks)) {}

  ClientId client_connected(std::unique_ptr<ServerConnection> connection, std::string peer,
                            Clock::time_point now);
  // Everything one read took from the client (the network layer reads a bounded amount).
  void client_data(ClientId id, std::string_view bytes, Clock::time_point now);
  // The client closed the connection, or it failed.
  void client_closed(ClientId id);
  // Keep-alives and time-outs; called a few times a second.
  void tick(Clock::time_point now);

  // A values line to every client.
  void broadcast(const std::vector<ZempPair>& pairs);
  size_t client_count() const { return clients_.size(); }

 private:
  struct Client {
    std::unique_ptr<ServerConnection> connection;
    std::string peer;
    ZempReceiveBuffer buffer;
    Clock::time_point last_heard;
    Clock::time_point next_keep_alive;
  };
  void send(ClientId id, Client& client, std::string_view bytes);
  void drop(ClientId id, const std::string& why);

  ZempServerHooks hooks_;
  std::map<ClientId, Client> clients_;
  ClientId next_id_ = 1;
};

}  // namespace tarvion::bridge
