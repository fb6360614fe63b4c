// The bridge between the ZEMP clients and the simulator: client values are
// checked, converted and written; simulator changes go to every client, with
// the simulator's stale reports of a value just written held back.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "bridge/bridge_mapping.h"
#include "bridge/simulator.h"
#include "bridge/zemp_server.h"

namespace tarvion::bridge {

// After a write, reports of any other value are taken for the simulator's
// answers from before it (X-Plane answers at its own rate) until it reports
// the written value or this time passes.
inline constexpr Ms kEchoHold{1500};
// At most this many unmapped numbers are named in the log (a client could send any).
inline constexpr size_t kMaxReportedUnknown = 64;

class BridgeCore {
 public:
  BridgeCore(BridgeMapping mapping, ZempServer& server, ZempServerHooks log_hooks)
      : mapping_(std::move(mapping)),
        server_(server),
        log_(std::move(log_hooks)),
        state_(mapping_.variables().size()) {}

  void set_simulator(SimulatorLink* simulator) { simulator_ = simulator; }
  const BridgeMapping& mapping() const { return mapping_; }

  // A client's pairs (ZempServerHooks::values).
  void client_values(ClientId client, const std::vector<ZempPair>& pairs, Clock::time_point now);
  // The simulator's value of a mapped variable (SimulatorReport), at time now.
  void simulator_report(size_t index, double value, Clock::time_point now);
  // The simulator went away: its values are unknown until it reports again.
  void simulator_lost();

 private:
  struct State {
    std::optional<int32_t> known;    // the simulator's last accepted value, wire units
    std::optional<int32_t> written;  // held value of the last write
    Clock::time_point hold_until{};
  };

  BridgeMapping mapping_;
  ZempServer& server_;
  ZempServerHooks log_;
  SimulatorLink* simulator_ = nullptr;
  std::vector<State> state_;
  std::set<int32_t> reported_unknown_;
};

}  // namespace tarvion::bridge
