// What every bridge fuzz target checks: whatever the input, the simulator is
// only ever written values inside the mapped radio's band.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "bridge/bridge_core.h"

namespace tarvion::bridge::fuzz {

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "bridge fuzz: %s\n", what);
  std::abort();
}

struct CheckedSimulator : SimulatorLink {
  const BridgeMapping* mapping = nullptr;
  void write(size_t index, double value) override {
    if (index >= mapping->variables().size()) fail("write to an unmapped index");
    const auto wire = mapping->to_wire(index, value);
    if (!std::isfinite(value) || !wire || !mapping->variables()[index].range.contains(*wire)) {
      fail("a value out of the radio's band reached the simulator");
    }
  }
  void tick(Clock::time_point) override {}
};

struct NullConnection : ServerConnection {
  size_t unsent = 0;
  void send(std::string_view bytes) override { unsent += bytes.size(); }
  size_t unsent_bytes() const override { return unsent; }
  void close() override {}
};

inline ZempServerHooks quiet_hooks() {
  return {nullptr, [](const std::string&) {}, [](const std::string&) {}};
}

// A bridge with no clients whose simulator checks every write.
struct CheckedBridge {
  explicit CheckedBridge(Simulator simulator)
      : core(BridgeMapping::builtin(simulator), server, quiet_hooks()) {
    sim.mapping = &core.mapping();
    core.set_simulator(&sim);
  }
  ZempServer server{quiet_hooks()};
  BridgeCore core;
  CheckedSimulator sim;
};

}  // namespace tarvion::bridge::fuzz
