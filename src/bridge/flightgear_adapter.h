// The bridge's FlightGear side: one connection to the property server in
// data mode, every mapped property subscribed and read once, writes with
// set, and a new connection when FlightGear restarts. Slowness is not loss:
// with software rendering FlightGear answers once a frame, up to a second.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "bridge/bridge_mapping.h"
#include "bridge/flightgear_lines.h"
#include "bridge/simulator.h"
#include "bridge/zemp_server.h"

namespace tarvion::bridge {

inline constexpr Ms kFlightGearRetry{3000};

// The network layer's side: one TCP connection at a time.
struct FlightGearConnection {
  std::function<void()> connect;  // ends in connected() or failed()
  std::function<void(const std::string&)> send;
  std::function<void()> close;
};

class FlightGearAdapter : public SimulatorLink {
 public:
  FlightGearAdapter(const BridgeMapping& mapping, std::string where,
                    FlightGearConnection connection, SimulatorReport report,
                    std::function<void()> lost, ZempServerHooks log);

  void connected();
  void data(std::string_view bytes);
  // The attempt failed, or the connection ended.
  void failed(Clock::time_point now);

  void write(size_t index, double value) override;
  void tick(Clock::time_point now) override;
  bool is_connected() const { return state_ == State::Connected; }

 private:
  void handle_line(std::string_view line);
  std::optional<size_t> index_of(const std::string& normalised_path) const;

  enum class State { Idle, Connecting, Connected };
  const BridgeMapping& mapping_;
  std::string where_;
  FlightGearConnection connection_;
  SimulatorReport report_;
  std::function<void()> lost_;
  ZempServerHooks log_;
  State state_ = State::Idle;
  Clock::time_point next_attempt_{};
  bool said_unreachable_ = false;
  PropertyLineBuffer lines_;
  std::deque<size_t> pending_gets_;  // data mode answers a get with the bare value
};

}  // namespace tarvion::bridge
