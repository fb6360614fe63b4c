// Report lengths from a raw HID report descriptor, for platforms that hand out
// the descriptor instead of ready-made capabilities (Linux hidraw).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvion {

// The largest descriptor a device can have (the kernel's own limit).
inline constexpr std::size_t kMaxReportDescriptorBytes = 4096;
// The largest report, report-ID byte included, that hidraw passes on.
inline constexpr std::size_t kMaxReportBytes = 16384;

struct HidReportLayout {
  // Lengths of the longest report of each kind, counting the report-ID byte
  // (also for devices without numbered reports); 0 when there is none.
  uint16_t input_report_length = 0;
  uint16_t output_report_length = 0;
  uint16_t feature_report_length = 0;
  // The device numbers its reports: each carries its report ID on the wire.
  bool numbered = false;
  // False for a descriptor that is truncated, unbalanced or declares absurd
  // sizes; every length is then 0.
  bool valid = false;
};

// Never reads outside the span, whatever it holds.
HidReportLayout parse_report_descriptor(std::span<const uint8_t> descriptor);

}  // namespace tarvion
