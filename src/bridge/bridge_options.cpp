#include "bridge/bridge_options.h"

#include "base/error.h"
#include "base/shown_text.h"
#include "base/str_to_int.h"
#include "bridge/xplane_packets.h"

namespace tarvion::bridge {

void parse_host_port(const std::string& text, std::string& host, uint16_t& port,
                     uint16_t default_port) {
  std::string port_text;
  if (text.starts_with("[")) {
    const size_t close = text.find(']');
    if (close == std::string::npos) throw TarvionError("'" + shown_text(text) + "': missing ]");
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') throw TarvionError("'" + shown_text(text) + "': expected :PORT");
      port_text = text.substr(close + 2);
    }
  } else {
    const size_t colon = text.find(':');
    // Two colons: a bare IPv6 address without a port.
    if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
      host = text.substr(0, colon);
      port_text = text.substr(colon + 1);
    } else {
      host = text;
    }
  }
  if (host.empty()) throw TarvionError("'" + shown_text(text) + "': no host");
  port = default_port;
  if (!port_text.empty() || text.ends_with(":")) {
    const auto value = try_str_to_int(port_text);
    if (!value || *value < 0 || *value > 65535 ||
        port_text.find_first_not_of("0123456789") != std::string::npos) {
      throw TarvionError("'" + shown_text(port_text) + "' is not a port number");
    }
    port = static_cast<uint16_t>(*value);
  }
}

BridgeOptions parse_bridge_options(const std::vector<std::string>& args) {
  BridgeOptions options;
  bool have_simulator = false;
  bool have_host = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw TarvionError(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--verbose" || arg == "-v") {
      options.verbose = true;
    } else if (arg == "--listen") {
      parse_host_port(value(), options.listen_host, options.listen_port, kDefaultListenPort);
    } else if (arg == "--map") {
      options.map_file = value();
    } else if (arg.starts_with("-")) {
      throw TarvionError("unknown option '" + shown_text(arg) + "'");
    } else if (!have_simulator) {
      if (arg == "xplane" || arg == "x-plane") {
        options.simulator = Simulator::XPlane;
      } else if (arg == "flightgear" || arg == "fgfs") {
        options.simulator = Simulator::FlightGear;
      } else {
        throw TarvionError("unknown simulator '" + shown_text(arg) + "' (xplane or flightgear)");
      }
      have_simulator = true;
    } else if (!have_host) {
      const uint16_t default_port =
          options.simulator == Simulator::XPlane ? kXPlanePort : kFlightGearPort;
      parse_host_port(arg, options.sim_host, options.sim_port, default_port);
      have_host = true;
    } else {
      throw TarvionError("unexpected argument '" + shown_text(arg) + "'");
    }
  }
  if (options.help) return options;
  if (!have_simulator) throw TarvionError("name the simulator: xplane or flightgear");
  if (!have_host && options.simulator == Simulator::FlightGear) {
    options.sim_host = "127.0.0.1";
    options.sim_port = kFlightGearPort;
  }
  return options;
}

std::string bridge_usage() {
  return R"(Usage: tarvion-bridge xplane [HOST[:PORT]] [options]
       tarvion-bridge flightgear [HOST[:PORT]] [options]

The ZEMP server for Tarvion: Tarvion (XPLANE=YES, ZEMP_HOST, ZEMP_PORT in
Tarvion.ini) connects here, and the radio values it sends are written to the
simulator; the simulator's own radio changes go back to Tarvion (shown on the
panels with FOLLOW_SIM=YES).

  xplane      X-Plane 9 to 12 through its UDP interface (no plug-in). Without
              HOST, X-Plane is found on the network from its beacon (X-Plane
              10.40 and later); otherwise PORT defaults to 49000.
  flightgear  FlightGear's property server: start fgfs with --telnet=5401.
              HOST defaults to 127.0.0.1, PORT to 5401.

Options:
  --listen ADDR:PORT  where Tarvion connects (default 127.0.0.1:8092). Any
                      address other than loopback lets other machines change
                      the simulator's radios: give it only on a trusted network.
  --map FILE          NUMBER=NAME [FACTOR] lines that replace or add to the
                      built-in names (simulator value = wire value x FACTOR),
                      for aircraft with radios of their own.
  --verbose           log every value written and reported
  --help              this text
)";
}

}  // namespace tarvion::bridge
