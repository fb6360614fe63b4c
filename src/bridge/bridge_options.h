// tarvion-bridge's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/bridge_mapping.h"

namespace tarvion::bridge {

inline constexpr uint16_t kDefaultListenPort = 8092;  // the example Tarvion.ini's ZEMP_PORT
inline constexpr uint16_t kFlightGearPort = 5401;

struct BridgeOptions {
  Simulator simulator = Simulator::XPlane;
  std::string sim_host;  // empty: X-Plane is found from its beacon
  uint16_t sim_port = 0;
  std::string listen_host = "127.0.0.1";
  uint16_t listen_port = kDefaultListenPort;
  std::string map_file;
  bool verbose = false;
  bool help = false;
};

// Throws TarvionError with a message for the user on anything it cannot take.
BridgeOptions parse_bridge_options(const std::vector<std::string>& args);

// "HOST[:PORT]", "[V6]:PORT" or "[V6]"; the port keeps default_port when absent.
void parse_host_port(const std::string& text, std::string& host, uint16_t& port,
                     uint16_t default_port);

std::string bridge_usage();

}  // namespace tarvion::bridge
