// zemp-peer's server: one thread, one poll loop over the listening socket,
// the clients and standard input (the commands).
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "peer_options.h"

namespace zemp_peer {

class PeerServer {
 public:
  explicit PeerServer(PeerOptions options);
  ~PeerServer();
  PeerServer(const PeerServer&) = delete;
  PeerServer& operator=(const PeerServer&) = delete;

  // Runs until "quit", SIGINT or SIGTERM; returns the exit code.
  int run();

 private:
  struct Client {
    int fd = -1;
    int id = 0;
    std::string address;
    std::string in, out;
    int lines = 0;
    bool registered = false;
    bool ended = false;
  };

  void log(const std::string& line);
  bool bind_port();
  void start_listening();
  void stop_listening();
  std::string where() const;
  void accept_clients();
  void read_client(Client& client);
  void handle_line(Client& client, std::string_view line);
  void send_to(Client& client, std::string_view bytes);
  void flush(Client& client);
  bool send_all(std::string_view bytes);
  void end_client(Client& client, const std::string& how, bool reset);
  void end_by_client(Client& client, const std::string& how);
  void read_commands();
  void command(const std::string& line);

  PeerOptions options_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point next_keepalive_;
  sockaddr_storage address_{};
  socklen_t address_size_ = 0;
  int listen_fd_ = -1;
  bool listening_ = false;
  int next_id_ = 1;
  std::vector<std::unique_ptr<Client>> clients_;
  std::map<int32_t, int32_t> values_;
  std::string commands_;
  bool stdin_open_ = true;
  bool quit_ = false;
};

}  // namespace zemp_peer
