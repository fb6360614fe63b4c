#include "platform/linux/hidraw_numbering.h"

#include <bitset>
#include <optional>
#include <set>

#include "platform/linux/linux_only.h"

namespace tarvion {
namespace {

using NumberSet = std::bitset<kLastDeviceNumber + 1>;

bool in_range(uint16_t number) {
  return number >= kFirstDeviceNumber && number <= kLastDeviceNumber;
}

// The first number from start on (wrapping) that is in none of the sets.
std::optional<uint16_t> probe(uint16_t start, const NumberSet& used, const NumberSet& avoided) {
  uint16_t number = start;
  for (int tried = 0; tried < kLastDeviceNumber; ++tried) {
    if (!used[number] && !avoided[number]) return number;
    number = number == kLastDeviceNumber ? kFirstDeviceNumber : static_cast<uint16_t>(number + 1);
  }
  return std::nullopt;
}

}  // namespace

uint16_t port_number_hint(std::string_view port) {
  // FNV-1a: fixed, so a port asks for the same number on every run.
  uint32_t hash = 2166136261u;
  for (unsigned char c : port) {
    hash ^= c;
    hash *= 16777619u;
  }
  return static_cast<uint16_t>(hash % kLastDeviceNumber + kFirstDeviceNumber);
}

std::vector<uint16_t> assign_device_numbers(const std::vector<HidrawSeat>& present,
                                            DeviceNumberMemory& memory) {
  std::vector<uint16_t> numbers(present.size(), 0);
  NumberSet used;
  std::map<std::string, uint16_t> kept;

  // Devices seen before keep their numbers.
  for (std::size_t i = 0; i < present.size(); ++i) {
    auto known = memory.by_identity.find(present[i].identity);
    if (known == memory.by_identity.end() || !in_range(known->second)) continue;
    if (used[known->second] || kept.contains(present[i].identity)) continue;
    numbers[i] = known->second;
    used.set(numbers[i]);
    kept.emplace(present[i].identity, numbers[i]);
  }

  // New devices: the port's last number if free, else a free number from the
  // port's own hint on, keeping clear of numbers other ports remember so that
  // their panels find them again when plugged back in.
  for (std::size_t i = 0; i < present.size(); ++i) {
    if (numbers[i] != 0) continue;
    const std::string& port = present[i].port;
    std::optional<uint16_t> number;
    if (!port.empty()) {
      auto remembered = memory.by_port.find(port);
      if (remembered != memory.by_port.end() && in_range(remembered->second) &&
          !used[remembered->second]) {
        number = remembered->second;
      }
    }
    if (!number) {
      NumberSet avoided;
      for (const auto& [other_port, other_number] : memory.by_port) {
        if (other_port != port && in_range(other_number)) avoided.set(other_number);
      }
      uint16_t start = port.empty() ? kFirstDeviceNumber : port_number_hint(port);
      number = probe(start, used, avoided);
      if (!number) number = probe(start, used, NumberSet{});
    }
    // More devices than numbers cannot be attached (hidraw has far fewer
    // minors); such a device would keep 0.
    if (!number) continue;
    numbers[i] = *number;
    used.set(*number);
    kept.emplace(present[i].identity, *number);
  }

  memory.by_identity = std::move(kept);
  std::set<std::string> ports_seen;
  for (std::size_t i = 0; i < present.size(); ++i) {
    const std::string& port = present[i].port;
    // The first device listed at a port speaks for it.
    if (port.empty() || numbers[i] == 0 || !ports_seen.insert(port).second) continue;
    memory.by_port[port] = numbers[i];
  }
  return numbers;
}

std::string driver_key_text(uint16_t number) {
  std::string digits = std::to_string(number % 10000);
  return "hidraw\\" + std::string(4 - digits.size(), '0') + digits;
}

}  // namespace tarvion
