// tarvion-bridge: the ZEMP server that puts Tarvion into X-Plane or FlightGear.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/shown_text.h"
#include "bridge/asio/asio_bridge.h"
#include "bridge/bridge_options.h"

using namespace tarvion;
using namespace tarvion::bridge;

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  BridgeOptions options;
  BridgeMapping mapping;
  try {
    options = parse_bridge_options(args);
    if (options.help) {
      std::cout << bridge_usage();
      return 0;
    }
    mapping = BridgeMapping::builtin(options.simulator);
    if (!options.map_file.empty()) {
      std::ifstream file(options.map_file, std::ios::binary);
      if (!file)
        throw TarvionError("cannot read the map file '" + shown_text(options.map_file) + "'");
      std::stringstream text;
      text << file.rdbuf();
      mapping.apply_map_file(text.str());
    }
  } catch (const TarvionError& error) {
    std::cerr << "Error: " << error.what() << "\n"
              << "tarvion-bridge --help shows the usage\n";
    return 2;
  }
  // Lines reach a pipe or the journal at once.
  BridgeOutput output{[](const std::string& line) { std::cout << line << std::endl; },
                      [](const std::string& line) { std::cerr << line << std::endl; }};
  try {
    return run_asio_bridge(options, std::move(mapping), output);
  } catch (const std::exception& error) {
    output.error(std::string("Error: ") + error.what());
    return 1;
  }
}
