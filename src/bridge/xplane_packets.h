// X-Plane's UDP datagrams as its "Sending Data to X-Plane" notes give them:
// RREF subscriptions and their answers, DREF writes and the BECN beacon.
// All integers and floats little-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvion::bridge {

inline constexpr size_t kRrefRequestSize = 413;  // "RREF\0", rate, index, name[400]
inline constexpr size_t kDrefSize = 509;         // "DREF\0", value, name[500]
inline constexpr uint16_t kXPlanePort = 49000;
inline constexpr const char* kBeaconGroup = "239.255.1.1";
inline constexpr uint16_t kBeaconPort = 49707;

// A subscription to one dataref; rate 0 ends it. Names longer than 399 bytes are cut.
std::string rref_request(int32_t rate, int32_t index, std::string_view dataref);
// A write of one dataref; names longer than 499 bytes are cut.
std::string dref_request(float value, std::string_view dataref);

struct RrefValue {
  int32_t index;
  float value;
};
// The (index, value) pairs of an RREF answer; nothing if the datagram is none.
// A trailing partial pair is ignored.
std::optional<std::vector<RrefValue>> parse_rref_answer(std::string_view datagram);

struct Beacon {
  int32_t version = 0;  // e.g. 120001 for 12.0.1
  int32_t role = 0;     // 1 master, 2 external visual, 3 instructor station
  uint16_t port = 0;    // where this X-Plane takes RREF and DREF
  std::string computer_name;
};
// An X-Plane (application 1) beacon; nothing for anything else.
std::optional<Beacon> parse_beacon(std::string_view datagram);

}  // namespace tarvion::bridge
