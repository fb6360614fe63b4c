// A HID device made in the kernel through /dev/uhid: it appears as a real
// hidraw node, takes input reports from the test and hands back the output
// reports the program writes to it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvion::testing {

struct UhidDescription {
  std::string name;  // the kernel's HID name (what HIDIOCGRAWNAME reads), UTF-8
  std::string phys;  // the physical path, standing in for a USB port; may be empty
  uint16_t vendor = 0;
  uint16_t product = 0;
  std::vector<uint8_t> descriptor;
};

class UhidDevice {
 public:
  explicit UhidDevice(const UhidDescription& description);  // plugs it in
  ~UhidDevice();                                            // unplugs it
  UhidDevice(const UhidDevice&) = delete;
  UhidDevice& operator=(const UhidDevice&) = delete;

  bool created() const { return fd_ >= 0; }
  // Unplugs now (the kernel removes the device and its node).
  void unplug();
  // One input report as the device sends it: for unnumbered reports the
  // payload alone, for numbered ones the report ID first.
  bool send_input(const std::vector<uint8_t>& report);
  // The next output report written to the device, byte for byte as it
  // arrived (report-ID byte first); nullopt when none came within limit.
  std::optional<std::vector<uint8_t>> next_output(std::chrono::milliseconds limit);

 private:
  int fd_ = -1;
};

}  // namespace tarvion::testing
