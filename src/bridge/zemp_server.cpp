#include "bridge/zemp_server.h"

#include "base/error.h"
#include "base/shown_text.h"

namespace tarvion::bridge {

ClientId ZempServer::client_connected(std::unique_ptr<ServerConnection> connection,
                                      std::string peer, Clock::time_point now) {
  const ClientId id = next_id_++;
  hooks_.log("client " + peer + " connected");
  clients_.emplace(id, Client{std::move(connection), std::move(peer), ZempReceiveBuffer(), now,
                              now + kKeepAliveInterval});
  return id;
}

void ZempServer::client_data(ClientId id, std::string_view bytes, Clock::time_point now) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  Client& client = it->second;
  client.last_heard = now;

  // Only the newest value of each number in one arrival reaches the
  // simulator: a flooding client costs at most one write per variable per read.
  std::vector<ZempPair> pairs;
  const ZempReceiveActions actions{
      // A keep-alive line from a client is its answer to ours: nothing to send.
      [](std::string_view) {},
      [&pairs](int32_t number, int32_t value) {
        for (ZempPair& pair : pairs) {
          if (pair.number == number) return void(pair.value = value);
        }
        pairs.push_back({number, value});
      }};
  // A bad integer ends its line only; the complete lines after it are handled
  // at once, not left waiting for the client's next arrival.
  std::string_view data = bytes;
  for (int lines_left = 1 << 16; lines_left > 0; --lines_left) {
    try {
      client.buffer.on_data_received(data, actions);
      break;
    } catch (const TarvionError& error) {
      hooks_.verbose("client " + client.peer + ": line dropped: " + error.what());
      data = {};
    }
  }
  if (!pairs.empty()) hooks_.values(id, pairs);

  // "Arn.Fin:" comes without a line end, right before the client closes.
  if (clients_.count(id) && client.buffer.pending() == kZempGoodbye) {
    hooks_.log("client " + client.peer + " said goodbye");
    client.connection->close();
    clients_.erase(id);
  }
}

void ZempServer::client_closed(ClientId id) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  hooks_.log("client " + it->second.peer + " disconnected");
  clients_.erase(it);
}

void ZempServer::tick(Clock::time_point now) {
  std::vector<std::pair<ClientId, std::string>> silent;
  for (auto& [id, client] : clients_) {
    if (now - client.last_heard >= kClientSilenceLimit) {
      silent.emplace_back(
          id, "no answer for " + std::to_string(kClientSilenceLimit.count() / 1000) + " s");
    } else if (now >= client.next_keep_alive) {
      client.next_keep_alive = now + kKeepAliveInterval;
      send(id, client, kZempKeepAlive);
    }
  }
  for (const auto& [id, why] : silent) drop(id, why);
}

void ZempServer::broadcast(const std::vector<ZempPair>& pairs) {
  if (pairs.empty()) return;
  const std::string line = build_values_message(pairs);
  std::vector<ClientId> ids;
  for (const auto& entry : clients_) ids.push_back(entry.first);
  for (ClientId id : ids) {
    auto it = clients_.find(id);
    if (it != clients_.end()) send(id, it->second, line);
  }
}

void ZempServer::send(ClientId id, Client& client, std::string_view bytes) {
  // A client that does not read must not make the bridge hold ever more for it.
  if (client.connection->unsent_bytes() + bytes.size() > kMaxUnsentBytes) {
    return drop(id, "it stopped reading");
  }
  client.connection->send(bytes);
}

void ZempServer::drop(ClientId id, const std::string& why) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  hooks_.log("client " + it->second.peer + " dropped: " + why);
  it->second.connection->close();
  clients_.erase(it);
}

}  // namespace tarvion::bridge
