// Fuzzes the bridge's ZEMP server with two clients' byte streams cut into
// arrivals, interleaved, through to the simulator writes: no crash, no value
// out of band written, the client count consistent.
#include <cstdint>
#include <string_view>

#include "bridge_fuzz_support.h"

using namespace tarvion::bridge;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  ZempServerHooks hooks = fuzz::quiet_hooks();
  BridgeCore* core_ptr = nullptr;
  auto now = Clock::time_point() + std::chrono::hours(1);
  hooks.values = [&](ClientId id, const std::vector<tarvion::ZempPair>& pairs) {
    core_ptr->client_values(id, pairs, now);
  };
  ZempServer server(hooks);
  BridgeCore core(BridgeMapping::builtin(data[0] & 1 ? Simulator::XPlane : Simulator::FlightGear),
                  server, fuzz::quiet_hooks());
  core_ptr = &core;
  fuzz::CheckedSimulator sim;
  sim.mapping = &core.mapping();
  core.set_simulator(&sim);
  const ClientId ids[2] = {
      server.client_connected(std::make_unique<fuzz::NullConnection>(), "a", now),
      server.client_connected(std::make_unique<fuzz::NullConnection>(), "b", now)};

  uint32_t seed = data[0] * 2654435761u + 1;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (size_t at = 0; at < stream.size();) {
    seed = seed * 1103515245u + 12345u;
    const size_t chunk = (seed >> 16) % 40 + 1;
    server.client_data(ids[(seed >> 8) & 1], stream.substr(at, chunk), now);
    // Now and then the simulator reports and time passes.
    if ((seed >> 20) % 5 == 0) {
      core.simulator_report((seed >> 4) % 7, double(seed % 20000), now);
      now += std::chrono::milliseconds(seed % 900);
      server.tick(now);
    }
    at += chunk;
  }
  if (server.client_count() > 2) fuzz::fail("more clients than connected");
  return 0;
}
