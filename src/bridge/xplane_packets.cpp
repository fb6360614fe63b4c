#include "bridge/xplane_packets.h"

#include <cstring>

namespace tarvion::bridge {

namespace {

void put_u32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

uint32_t get_u32(std::string_view in, size_t at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t(uint8_t(in[at + i])) << (8 * i);
  return value;
}

void put_name(std::string& out, std::string_view name, size_t field) {
  name = name.substr(0, field - 1);  // always NUL-terminated
  out.append(name);
  out.append(field - name.size(), '\0');
}

}  // namespace

std::string rref_request(int32_t rate, int32_t index, std::string_view dataref) {
  std::string out("RREF\0", 5);
  put_u32(out, static_cast<uint32_t>(rate));
  put_u32(out, static_cast<uint32_t>(index));
  put_name(out, dataref, 400);
  return out;
}

std::string dref_request(float value, std::string_view dataref) {
  std::string out("DREF\0", 5);
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  put_u32(out, bits);
  put_name(out, dataref, 500);
  return out;
}

std::optional<std::vector<RrefValue>> parse_rref_answer(std::string_view datagram) {
  // X-Plane 11 and 12 send "RREF,", older ones "RREFO" or "RREF\0": only the
  // first four letters are kept to.
  if (datagram.size() < 5 || datagram.substr(0, 4) != "RREF") return std::nullopt;
  std::vector<RrefValue> values;
  for (size_t at = 5; at + 8 <= datagram.size(); at += 8) {
    const uint32_t bits = get_u32(datagram, at + 4);
    float value;
    std::memcpy(&value, &bits, 4);
    values.push_back({static_cast<int32_t>(get_u32(datagram, at)), value});
  }
  return values;
}

std::optional<Beacon> parse_beacon(std::string_view datagram) {
  // "BECN\0", major, minor, int32 host (1 = X-Plane), int32 version, uint32
  // role, uint16 port, then the computer's name, NUL-terminated.
  constexpr size_t kFixed = 5 + 1 + 1 + 4 + 4 + 4 + 2;
  if (datagram.size() < kFixed || datagram.substr(0, 5) != std::string_view("BECN\0", 5)) {
    return std::nullopt;
  }
  if (datagram[5] != 1 || get_u32(datagram, 7) != 1) return std::nullopt;
  Beacon beacon;
  beacon.version = static_cast<int32_t>(get_u32(datagram, 11));
  beacon.role = static_cast<int32_t>(get_u32(datagram, 15));
  beacon.port = static_cast<uint16_t>(uint8_t(datagram[19]) | (uint8_t(datagram[20]) << 8));
  const std::string_view name = datagram.substr(kFixed, 500);
  beacon.computer_name = std::string(name.substr(0, name.find('\0')));
  if (beacon.port == 0) return std::nullopt;
  return beacon;
}

}  // namespace tarvion::bridge
