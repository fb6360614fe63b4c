// Arbitrary bytes as a device's report descriptor: the parser must stay
// inside them, end, and give either lengths it can stand behind or zeros.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "hid/hid_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tarvion::HidReportLayout layout =
      tarvion::parse_report_descriptor(std::span<const uint8_t>(data, size));
  // A read buffer is sized from these: never past what hidraw can hand out,
  // and nothing at all from a descriptor that was refused.
  bool too_long = layout.input_report_length > tarvion::kMaxReportBytes ||
                  layout.output_report_length > tarvion::kMaxReportBytes ||
                  layout.feature_report_length > tarvion::kMaxReportBytes;
  bool refused_with_lengths =
      !layout.valid && (layout.input_report_length != 0 || layout.output_report_length != 0 ||
                        layout.feature_report_length != 0 || layout.numbered);
  if (too_long || refused_with_lengths) std::abort();
  return 0;
}
