#include "bridge/bridge_core.h"

#include <algorithm>
#include <string>

namespace tarvion::bridge {

void BridgeCore::client_values(ClientId client, const std::vector<ZempPair>& pairs,
                               Clock::time_point now) {
  // Tarvion registers before its first exchange with 0 for every variable.
  // 0 is out of band for every radio but the squawk, where 0000 is a code:
  // a line of nothing but zeros is that registration, and tunes nothing.
  if (pairs.size() > 1 &&
      std::all_of(pairs.begin(), pairs.end(), [](const ZempPair& p) { return p.value == 0; })) {
    log_.verbose("client " + std::to_string(client) + ": a line of zeros (registered before " +
                 "its first exchange): not written");
    return;
  }
  for (const ZempPair& pair : pairs) {
    const auto index = mapping_.find(pair.number);
    if (!index) {
      if (reported_unknown_.size() < kMaxReportedUnknown &&
          reported_unknown_.insert(pair.number).second) {
        log_.log("variable " + std::to_string(pair.number) +
                 " has no mapping: its values are ignored");
      }
      continue;
    }
    const auto value = mapping_.to_simulator(*index, pair.value);
    const MappedVariable& variable = mapping_.variables()[*index];
    if (!value) {
      // Expected once per client: a registration sent before its first exchange carries 0.
      log_.verbose("client " + std::to_string(client) + ": " + std::to_string(pair.value) +
                   " for " + variable.name + " is out of range: not written");
      continue;
    }
    State& state = state_[*index];
    state.written = pair.value;
    state.hold_until = now + kEchoHold;
    log_.verbose("write " + variable.name + " = " + std::to_string(pair.value));
    if (simulator_) simulator_->write(*index, *value);
  }
}

void BridgeCore::simulator_report(size_t index, double value, Clock::time_point now) {
  if (index >= state_.size()) return;
  const auto wire = mapping_.to_wire(index, value);
  if (!wire) return;
  State& state = state_[index];
  if (state.written) {
    if (*wire == *state.written) {
      state.written.reset();  // the write has landed
    } else if (now < state.hold_until) {
      return;  // a report from before the write
    } else {
      state.written.reset();  // the simulator kept or changed it since: its value stands
    }
  }
  if (state.known == wire) return;
  state.known = wire;
  const MappedVariable& variable = mapping_.variables()[index];
  log_.verbose("simulator " + variable.name + " = " + std::to_string(*wire));
  server_.broadcast({{variable.number, *wire}});
}

void BridgeCore::simulator_lost() {
  for (State& state : state_) state = State{};
}

}  // namespace tarvion::bridge
