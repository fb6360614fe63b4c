// Device events sent the way the udev daemon sends them (a libudev header,
// then the properties), so that a monitor's "udev" source can be driven
// where no udev daemon runs. Needs CAP_NET_ADMIN (root).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvion::testing {

// properties: KEY=VALUE texts; libudev wants ACTION, DEVPATH, SUBSYSTEM and
// SEQNUM. False (errno set) when the event could not be sent.
bool broadcast_udev_event(const std::vector<std::string>& properties);

// A hidraw event as the daemon would announce it.
std::vector<std::string> hidraw_event(const std::string& action, const std::string& devpath,
                                      uint64_t seqnum);

// The hash libudev's socket filter compares subsystems by.
uint32_t murmur_hash2(std::string_view text);

}  // namespace tarvion::testing
