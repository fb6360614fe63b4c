#include "peer_options.h"

#include <stdexcept>

#include "peer_text.h"

namespace zemp_peer {

const char* const kCommands =
    R"(  send N=V [N=V ...] send "Arn.Resp:N=V:...:" and CR LF to every client
  raw TEXT           send TEXT as it is; \r \n \t \\ and \xHH are written out
  keepalive          send "Arn.Vivo:" and CR LF to every client
  values             print the variables' values
  status             print the clients and whether connections are refused
  drop               close every connection in order
  reset              reset every connection
  refuse on|off      refuse new connections (nothing listens on the port) or accept them
  quit               end (SIGINT and SIGTERM end it too; the end of standard input
                     only ends the commands)
  help               this list
)";

const std::string kUsage =
    R"(usage: zemp-peer [OPTIONS]

A ZEMP server simulator for trying out and testing Tarvion's ZEMP link. It
accepts TCP connections, logs every line it receives with a timestamp (seconds
since start) to standard output, keeps the variables' values, and takes
commands on standard input.

Options:
  --host ADDR        address to listen on (default 127.0.0.1, loopback only;
                     0.0.0.0 accepts other machines)
  --port N           TCP port (default 8092; 0 picks a free one, shown at start)
  --keepalive N      send "Arn.Vivo:" to every client every N seconds (default: never)
  --send PAIRS       send "Arn.Resp:PAIRS:" to each client once its registration
                     line has arrived; PAIRS like 256=12150:311=7700
  --refuse           start refusing connections (see "refuse off")
  --drop-after N     close each connection in order after it has sent N lines
  --reset-after N    reset each connection after it has sent N lines
  --help             this text

Commands on standard input, one per line:
)" + std::string(kCommands) +
    R"(
Log lines: "[   12.345] client 1 recv "Arn.Resp:256=11800:\r\n"", "... client 1 sent ...",
"client 1 connected from ...", "client 1 closed by client", "listening on 127.0.0.1:8092".
)";

namespace {

int positive_int(const std::string& option, const std::string& text) {
  int value = 0;
  if (!parse_int(text, value) || value < 0) {
    throw std::invalid_argument(option + " needs a number of 0 or more, not '" + text + "'");
  }
  return value;
}

}  // namespace

PeerOptions parse_options(const std::vector<std::string>& args) {
  PeerOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    const bool takes_value = name == "--host" || name == "--port" || name == "--keepalive" ||
                             name == "--send" || name == "--drop-after" || name == "--reset-after";
    if (size_t eq = name.find('='); eq != std::string::npos && name.starts_with("--")) {
      value = name.substr(eq + 1);
      name.resize(eq);
    } else if (takes_value) {
      if (i + 1 >= args.size()) throw std::invalid_argument(name + " needs a value");
      value = args[++i];
    }
    if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--host") {
      options.host = value;
    } else if (name == "--port") {
      int port = positive_int(name, value);
      if (port > 65535) throw std::invalid_argument("--port must be 0 to 65535");
      options.port = static_cast<uint16_t>(port);
    } else if (name == "--keepalive") {
      options.keepalive_seconds = positive_int(name, value);
    } else if (name == "--send") {
      if (!parse_pairs(value)) throw std::invalid_argument("--send needs pairs like 256=12150");
      options.send_pairs = value;
    } else if (name == "--refuse") {
      options.refuse = true;
    } else if (name == "--drop-after") {
      options.drop_after = positive_int(name, value);
    } else if (name == "--reset-after") {
      options.reset_after = positive_int(name, value);
    } else {
      throw std::invalid_argument("unknown option '" + args[i] + "' (see --help)");
    }
  }
  return options;
}

}  // namespace zemp_peer
