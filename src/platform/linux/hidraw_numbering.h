// Device numbers for hidraw devices, standing in for the instance number that
// ends a Windows driver key: kept per device, per USB port, never shared.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/linux_only.h"

namespace tarvion {

// Numbers run from 1 to 9999 so that they fill the four digits of the key.
inline constexpr uint16_t kFirstDeviceNumber = 1;
inline constexpr uint16_t kLastDeviceNumber = 9999;

// One present device as the numbering sees it.
struct HidrawSeat {
  std::string identity;  // equal for the same device across listings
  std::string port;      // where it is plugged in; empty when the system does not say
};

// What the numbering remembers between listings.
struct DeviceNumberMemory {
  std::map<std::string, uint16_t> by_identity;  // devices present at the last listing
  std::map<std::string, uint16_t> by_port;      // the last number given at each port
};

// The numbers of the devices present now, in their order. A device keeps its
// number for as long as it stays present; a device plugged into a port gets
// the number last given at that port, else one derived from the port's name
// (the same on every run), else the lowest free one. No two present devices
// share a number. Pure: touches nothing but memory.
std::vector<uint16_t> assign_device_numbers(const std::vector<HidrawSeat>& present,
                                            DeviceNumberMemory& memory);

// The number a port asks for before any collision is resolved.
uint16_t port_number_hint(std::string_view port);

// The driver-key text of a number: ends in the number as four digits.
std::string driver_key_text(uint16_t number);

}  // namespace tarvion
