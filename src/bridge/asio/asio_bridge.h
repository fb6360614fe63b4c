// tarvion-bridge on Asio: the ZEMP listener, the simulator's socket, the
// tick timer and Ctrl-C, all on one io_context on the calling thread.
#pragma once

#include <functional>
#include <string>

#include "bridge/bridge_mapping.h"
#include "bridge/bridge_options.h"

namespace tarvion::bridge {

struct BridgeOutput {
  std::function<void(const std::string&)> line;   // progress, to stdout
  std::function<void(const std::string&)> error;  // to stderr
};

// Runs until SIGINT or SIGTERM (Ctrl-C); returns the exit code.
int run_asio_bridge(const BridgeOptions& options, BridgeMapping mapping, BridgeOutput output);

}  // namespace tarvion::bridge
