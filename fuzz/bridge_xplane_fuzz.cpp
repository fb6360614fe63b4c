// Fuzzes the X-Plane side: any datagram as an RREF answer or a beacon, through
// the adapter and the bridge: no crash, parsed pairs as many as the size
// holds, no out-of-band value written back.
#include <cstdint>
#include <string_view>

#include "bridge/xplane_adapter.h"
#include "bridge/xplane_packets.h"
#include "bridge_fuzz_support.h"

using namespace tarvion::bridge;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view datagram(reinterpret_cast<const char*>(data), size);
  if (const auto pairs = parse_rref_answer(datagram)) {
    if (pairs->size() != (size - 5) / 8) fuzz::fail("pair count does not match the size");
  }
  if (const auto beacon = parse_beacon(datagram)) {
    if (beacon->port == 0 || beacon->computer_name.size() > 500) fuzz::fail("bad beacon");
  }

  fuzz::CheckedBridge bridge(Simulator::XPlane);
  BridgeCore& core = bridge.core;
  auto now = Clock::time_point() + std::chrono::hours(1);
  XPlaneAdapter adapter(
      core.mapping(), [](const std::string&) {},
      [&](size_t index, double value) { core.simulator_report(index, value, now); },
      fuzz::quiet_hooks());
  adapter.set_target("127.0.0.1:49000", now);
  adapter.on_datagram(datagram, now);
  // A client write after garbage reports still has to be in band to go out.
  core.client_values(1, {{256, 11900}, {311, int32_t(size)}}, now);
  return 0;
}
