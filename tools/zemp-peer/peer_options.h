// zemp-peer's command line: what it listens on and how it treats its clients.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zemp_peer {

struct PeerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 8092;       // 0: any free port (printed at start)
  int keepalive_seconds = 0;  // 0: no keep-alives of its own
  std::string send_pairs;     // "256=12150:311=7700": sent to each client after its registration
  bool refuse = false;        // start refusing connections
  int drop_after = 0;         // close each connection after this many received lines (0: never)
  int reset_after = 0;        // reset each connection after this many received lines (0: never)
  bool help = false;
};

// Throws std::invalid_argument with a message for the user on a bad command line.
PeerOptions parse_options(const std::vector<std::string>& args);

extern const std::string kUsage;
// The commands taken on standard input, one per line (the "help" command's answer).
extern const char* const kCommands;

}  // namespace zemp_peer
