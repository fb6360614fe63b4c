// zemp-peer: a ZEMP server simulator for demos and end-to-end tests of
// Tarvion's ZEMP link (see --help).
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "peer_options.h"
#include "peer_server.h"

int main(int argc, char** argv) {
  zemp_peer::PeerOptions options;
  try {
    options = zemp_peer::parse_options(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& error) {
    std::fprintf(stderr, "zemp-peer: %s\n", error.what());
    return 2;
  }
  if (options.help) {
    std::fputs(zemp_peer::kUsage.c_str(), stdout);
    return 0;
  }
  return zemp_peer::PeerServer(options).run();
}
