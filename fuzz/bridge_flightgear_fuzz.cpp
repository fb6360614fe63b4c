// Fuzzes FlightGear's property lines through the adapter, cut into any
// arrivals: no crash, reports only for mapped properties with finite values,
// and the bridge writes nothing out of band in answer.
#include <cmath>
#include <cstdint>
#include <string_view>

#include "bridge/flightgear_adapter.h"
#include "bridge_fuzz_support.h"

using namespace tarvion::bridge;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::CheckedBridge bridge(Simulator::FlightGear);
  BridgeCore& core = bridge.core;
  auto now = Clock::time_point() + std::chrono::hours(1);
  FlightGearAdapter adapter(
      core.mapping(), "127.0.0.1:5401", {[] {}, [](const std::string&) {}, [] {}},
      [&](size_t index, double value) {
        if (index >= core.mapping().variables().size() || !std::isfinite(value)) {
          fuzz::fail("report for an unmapped index or not a number");
        }
        core.simulator_report(index, value, now);
      },
      [&] { core.simulator_lost(); }, fuzz::quiet_hooks());
  adapter.tick(now);
  adapter.connected();

  uint32_t seed = data[0] * 2654435761u + 1;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (size_t at = 0; at < stream.size();) {
    seed = seed * 1103515245u + 12345u;
    const size_t chunk = (seed >> 16) % 64 + 1;
    adapter.data(stream.substr(at, chunk));
    at += chunk;
  }
  core.client_values(1, {{256, 11900}, {258, int32_t(size)}}, now);
  return 0;
}
