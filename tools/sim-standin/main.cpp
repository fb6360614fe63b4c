// sim-standin: a stand-in for X-Plane (UDP) or FlightGear (property server)
// for tarvion-bridge's end-to-end tests and for trying it without a simulator.
#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <asio/signal_set.hpp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "flightgear_standin.h"
#include "standin_io.h"
#include "xplane_standin.h"

namespace {

const char* const kUsage =
    R"(usage: sim-standin xplane [--port N] [--latency MS] [--host ADDR]
       sim-standin flightgear [--port N] [--latency MS] [--host ADDR]

Stands in for a flight simulator: keeps the radios of a Cessna 172 and
speaks X-Plane's UDP interface (RREF subscriptions, DREF writes) or
FlightGear's property server (TCP, prompt and data modes, get, set,
subscribe). Commands on standard input act as the pilot in the simulator.

Options:
  --port N      port to listen on (default 0: a free one, shown at start)
  --latency MS  send every answer and update MS milliseconds late, like a
                slow simulator (default 0)
  --host ADDR   address to listen on (default 127.0.0.1, loopback only)
  --help        this text

Commands, X-Plane:    set NAME VALUE, restart (forget every subscription),
                      pause, resume (stop / start answering), values, quit
Commands, FlightGear: set PATH VALUE (subscribers are told), restart (close
                      every client, listen again on the port after 2 s),
                      values, quit
The end of standard input ends only the commands; quit, SIGINT and SIGTERM
end the program.

Output, one flushed line each:
  sim-standin: X-Plane stand-in listening on 127.0.0.1:PORT (UDP)
  sim-standin: FlightGear stand-in listening on 127.0.0.1:PORT (TCP)
  X-Plane:    RREF subscribe INDEX NAME rate FREQ | RREF unsubscribe INDEX |
              DREF NAME=VALUE | ignored datagram of N bytes | set NAME=VALUE |
              restarted | paused | resumed | NAME=VALUE (values)
  FlightGear: client connected | client disconnected | set PATH=VALUE |
              subscribe PATH | unsubscribe PATH | restarted |
              listening again on 127.0.0.1:PORT | PATH=VALUE (values)
)";

struct Arguments {
  std::string mode;
  sim_standin::StandinOptions options;
  bool help = false;
};

long number_option(const std::string& option, const std::string& text, long max) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > max) {
    throw std::invalid_argument(option + " needs a number from 0 to " + std::to_string(max) +
                                ", not '" + text + "'");
  }
  return value;
}

Arguments parse_arguments(const std::vector<std::string>& args) {
  Arguments parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
    } else if (arg == "--port" || arg == "--latency" || arg == "--host") {
      if (i + 1 == args.size()) throw std::invalid_argument(arg + " needs a value");
      const std::string& value = args[++i];
      if (arg == "--port") {
        parsed.options.port = static_cast<uint16_t>(number_option(arg, value, 65535));
      } else if (arg == "--latency") {
        parsed.options.latency = std::chrono::milliseconds(number_option(arg, value, 600000));
      } else {
        std::error_code error;
        asio::ip::make_address(value, error);
        if (error) throw std::invalid_argument("--host needs an IP address, not '" + value + "'");
        parsed.options.host = value;
      }
    } else if ((arg == "xplane" || arg == "flightgear") && parsed.mode.empty()) {
      parsed.mode = arg;
    } else {
      throw std::invalid_argument("unknown argument '" + arg + "'");
    }
  }
  if (parsed.mode.empty() && !parsed.help) {
    throw std::invalid_argument("say which simulator: xplane or flightgear");
  }
  return parsed;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  try {
    arguments = parse_arguments(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& error) {
    std::fprintf(stderr, "sim-standin: %s (see --help)\n", error.what());
    return 2;
  }
  if (arguments.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // A test that stops reading our output must not kill us with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);

  asio::io_context io;
  // Caught before the "listening" line, so a test may signal as soon as it has read it.
  asio::signal_set stop_signals(io, SIGINT, SIGTERM);
  stop_signals.async_wait([&io](std::error_code, int) { io.stop(); });
  std::unique_ptr<sim_standin::Standin> standin;
  if (arguments.mode == "xplane") {
    standin = std::make_unique<sim_standin::XPlaneStandin>(io, arguments.options);
  } else {
    standin = std::make_unique<sim_standin::FlightGearStandin>(io, arguments.options);
  }
  try {
    standin->start();
  } catch (const std::system_error& error) {
    std::fprintf(stderr, "sim-standin: cannot listen on %s:%u: %s\n",
                 arguments.options.host.c_str(), unsigned(arguments.options.port),
                 error.code().message().c_str());
    return 1;
  }

  sim_standin::StdinReader commands(io, [&](const std::string& line) {
    if (!standin->command(line)) io.stop();
  });
  io.run();
  return 0;
}
