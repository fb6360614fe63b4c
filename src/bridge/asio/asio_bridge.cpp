#include "bridge/asio/asio_bridge.h"

#include <asio.hpp>
#include <deque>
#include <memory>
#include <optional>

#include "base/shown_text.h"
#include "bridge/asio/zemp_listener.h"
#include "bridge/bridge_core.h"
#include "bridge/flightgear_adapter.h"
#include "bridge/xplane_adapter.h"
#include "bridge/xplane_packets.h"

namespace tarvion::bridge {

namespace {

using asio::ip::tcp;
using asio::ip::udp;

constexpr Ms kTick{100};
// What may wait for FlightGear; beyond it writes are dropped (and said so).
constexpr size_t kMaxFlightGearUnsent = 256 * 1024;

std::string endpoint_text(const asio::ip::address& address, uint16_t port) {
  const std::string host = address.to_string();
  return (address.is_v6() ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// X-Plane: one UDP socket for RREF/DREF, and the beacon when no host was given.
class XPlaneSide {
 public:
  XPlaneSide(asio::io_context& io, const BridgeOptions& options, const BridgeMapping& mapping,
             BridgeCore& core, const ZempServerHooks& log)
      : socket_(io, udp::endpoint(udp::v4(), 0)),
        beacon_(io),
        log_(log),
        adapter_(
            mapping, [this](const std::string& datagram) { send(datagram); },
            [&core](size_t index, double value) {
              core.simulator_report(index, value, Clock::now());
            },
            log) {
    // X-Plane answers to the port the requests come from: a firewall must let it in.
    log_.log("talking to X-Plane from UDP port " + std::to_string(socket_.local_endpoint().port()));
    if (!options.sim_host.empty()) {
      udp::resolver resolver(io);
      const auto found =
          *resolver.resolve(udp::v4(), options.sim_host, std::to_string(options.sim_port)).begin();
      target_ = found.endpoint();
      adapter_.set_target(endpoint_text(target_->address(), target_->port()), Clock::now());
    } else {
      listen_for_beacon();
    }
    receive();
  }
  XPlaneAdapter& adapter() { return adapter_; }

 private:
  void send(const std::string& datagram) {
    if (!target_) return;
    asio::error_code ignored;  // UDP: a lost datagram is X-Plane's silence, handled by the tick
    socket_.send_to(asio::buffer(datagram), *target_, 0, ignored);
  }
  void receive() {
    socket_.async_receive_from(asio::buffer(buffer_), from_, [this](asio::error_code ec, size_t n) {
      if (ec == asio::error::operation_aborted) return;
      // Only X-Plane's answers count; an ICMP "port unreachable" shows as an error here.
      if (!ec && target_ && from_.address() == target_->address()) {
        adapter_.on_datagram(std::string_view(buffer_.data(), n), Clock::now());
      }
      receive();
    });
  }
  void listen_for_beacon() {
    log_.log(std::string("looking for X-Plane on the network (its beacon on ") + kBeaconGroup +
             ":" + std::to_string(kBeaconPort) +
             "); or name its address: tarvion-bridge xplane HOST");
    asio::error_code ec;
    beacon_.open(udp::v4(), ec);
    if (!ec) beacon_.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) beacon_.bind(udp::endpoint(udp::v4(), kBeaconPort), ec);
    if (!ec) {
      beacon_.set_option(asio::ip::multicast::join_group(asio::ip::make_address(kBeaconGroup)), ec);
    }
    if (ec) {
      log_.log("cannot listen for X-Plane's beacon (" + ec.message() +
               "): give X-Plane's address, e.g. tarvion-bridge xplane 127.0.0.1");
      return;
    }
    receive_beacon();
  }
  void receive_beacon() {
    beacon_.async_receive_from(
        asio::buffer(beacon_buffer_), beacon_from_, [this](asio::error_code ec, size_t n) {
          if (ec == asio::error::operation_aborted) return;
          if (!ec) {
            const auto beacon = parse_beacon(std::string_view(beacon_buffer_.data(), n));
            // The master machine flies; external visuals and instructor stations do not.
            if (beacon && beacon->role == 1) {
              const udp::endpoint at(beacon_from_.address(), beacon->port);
              if (!target_ || *target_ != at) {
                target_ = at;
                const std::string where = endpoint_text(at.address(), at.port());
                log_.log("found X-Plane " + std::to_string(beacon->version / 10000) + "." +
                         std::to_string(beacon->version / 100 % 100) + " on '" +
                         shown_text(beacon->computer_name) + "' at " + where);
                adapter_.set_target(where, Clock::now());
              }
            }
          }
          receive_beacon();
        });
  }

  udp::socket socket_;
  udp::socket beacon_;
  ZempServerHooks log_;
  XPlaneAdapter adapter_;
  std::optional<udp::endpoint> target_;
  std::array<char, 2048> buffer_;
  udp::endpoint from_;
  std::array<char, 2048> beacon_buffer_;
  udp::endpoint beacon_from_;
};

// FlightGear: one TCP connection to its property server, made again when it ends.
class FlightGearSide {
 public:
  FlightGearSide(asio::io_context& io, const BridgeOptions& options, const BridgeMapping& mapping,
                 BridgeCore& core, const ZempServerHooks& log)
      : io_(io),
        resolver_(io),
        host_(options.sim_host),
        port_(options.sim_port),
        log_(log),
        adapter_(
            mapping, host_ + ":" + std::to_string(port_),
            FlightGearConnection{[this] { connect(); },
                                 [this](const std::string& bytes) { send(bytes); },
                                 [this] { drop(); }},
            [&core](size_t index, double value) {
              core.simulator_report(index, value, Clock::now());
            },
            [&core] { core.simulator_lost(); }, log) {}
  FlightGearAdapter& adapter() { return adapter_; }

 private:
  void connect() {
    const uint64_t attempt = ++generation_;
    socket_ = std::make_shared<tcp::socket>(io_);
    resolver_.async_resolve(
        host_, std::to_string(port_),
        [this, attempt](asio::error_code ec, const tcp::resolver::results_type& results) {
          if (attempt != generation_) return;
          if (ec) return failed(attempt);
          asio::async_connect(*socket_, results,
                              [this, attempt](asio::error_code ec, const tcp::endpoint&) {
                                if (attempt != generation_) return;
                                if (ec) return failed(attempt);
                                asio::error_code ignored;
                                socket_->set_option(tcp::no_delay(true), ignored);
                                adapter_.connected();
                                read(attempt);
                              });
        });
  }
  void read(uint64_t attempt) {
    socket_->async_read_some(asio::buffer(buffer_), [this, attempt](asio::error_code ec, size_t n) {
      if (attempt != generation_) return;
      if (ec) return failed(attempt);
      adapter_.data(std::string_view(buffer_.data(), n));
      if (attempt == generation_) read(attempt);
    });
  }
  void send(const std::string& bytes) {
    if (unsent_ + bytes.size() > kMaxFlightGearUnsent) {
      log_.log("FlightGear is not taking what the bridge sends: a write was dropped");
      return;
    }
    queue_.push_back(bytes);
    unsent_ += bytes.size();
    if (queue_.size() == 1) write(generation_);
  }
  void write(uint64_t attempt) {
    asio::async_write(*socket_, asio::buffer(queue_.front()),
                      [this, attempt](asio::error_code ec, size_t) {
                        if (attempt != generation_) return;
                        if (ec) return failed(attempt);
                        unsent_ -= queue_.front().size();
                        queue_.pop_front();
                        if (!queue_.empty()) write(attempt);
                      });
  }
  void failed(uint64_t attempt) {
    if (attempt != generation_) return;
    drop();
    adapter_.failed(Clock::now());
  }
  void drop() {
    ++generation_;  // late completions of this connection are ignored
    queue_.clear();
    unsent_ = 0;
    if (socket_) {
      asio::error_code ignored;
      socket_->close(ignored);
    }
  }

  asio::io_context& io_;
  tcp::resolver resolver_;
  std::string host_;
  uint16_t port_;
  ZempServerHooks log_;
  FlightGearAdapter adapter_;
  std::shared_ptr<tcp::socket> socket_;
  uint64_t generation_ = 0;
  std::array<char, 8192> buffer_;
  std::deque<std::string> queue_;
  size_t unsent_ = 0;
};

}  // namespace

int run_asio_bridge(const BridgeOptions& options, BridgeMapping mapping, BridgeOutput output) {
  asio::io_context io(1);
  ZempServerHooks log{nullptr, output.line,
                      options.verbose ? output.line : [](const std::string&) {}};
  std::optional<BridgeCore> core;
  ZempServerHooks server_hooks = log;
  server_hooks.values = [&core](ClientId client, const std::vector<ZempPair>& pairs) {
    core->client_values(client, pairs, Clock::now());
  };
  ZempServer server(server_hooks);
  core.emplace(std::move(mapping), server, log);

  asio::error_code ec;
  const auto listen_address = asio::ip::make_address(options.listen_host, ec);
  if (ec) {
    output.error("Error: --listen needs a numeric address, not '" +
                 shown_text(options.listen_host) + "'");
    return 2;
  }
  std::optional<ZempListener> listener;
  try {
    listener.emplace(io, server, tcp::endpoint(listen_address, options.listen_port));
  } catch (const asio::system_error& error) {
    output.error("Error: cannot listen on " + endpoint_text(listen_address, options.listen_port) +
                 ": " + error.code().message() +
                 (error.code() == asio::error::address_in_use
                      ? " (is another tarvion-bridge or ZEMP server running?)"
                      : ""));
    return 1;
  }
  const auto at = listener->local_endpoint();
  output.line("listening on " + endpoint_text(at.address(), at.port()) + " for Tarvion (ZEMP)" +
              (at.address().is_loopback()
                   ? ""
                   : " - not loopback: other machines can change the simulator's radios"));

  std::unique_ptr<XPlaneSide> xplane;
  std::unique_ptr<FlightGearSide> flightgear;
  SimulatorLink* simulator = nullptr;
  try {
    if (options.simulator == Simulator::XPlane) {
      xplane = std::make_unique<XPlaneSide>(io, options, core->mapping(), *core, log);
      simulator = &xplane->adapter();
    } else {
      output.line("FlightGear's property server at " + options.sim_host + ":" +
                  std::to_string(options.sim_port));
      flightgear = std::make_unique<FlightGearSide>(io, options, core->mapping(), *core, log);
      simulator = &flightgear->adapter();
    }
  } catch (const asio::system_error& error) {
    output.error("Error: " + shown_text(options.sim_host) + ": " + error.code().message());
    return 1;
  }
  core->set_simulator(simulator);

  asio::steady_timer ticker(io);
  std::function<void()> tick = [&] {
    const auto now = Clock::now();
    server.tick(now);
    simulator->tick(now);
    ticker.expires_after(kTick);
    ticker.async_wait([&](asio::error_code e) {
      if (!e) tick();
    });
  };
  tick();

  asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](asio::error_code e, int) {
    if (e) return;
    output.line("closing");
    if (xplane) xplane->adapter().unsubscribe();
    io.stop();
  });
  io.run();
  return 0;
}

}  // namespace tarvion::bridge
