// Report descriptors as a Pendra panel (or a hostile device) would send them,
// built item by item so a test reads like the wire.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace tarvion::testing {

// Short items: prefix byte (tag, type, size) then the data, little-endian.
struct DescriptorBuilder {
  std::vector<uint8_t> bytes;

  DescriptorBuilder& item(uint8_t tag_and_type, uint32_t value) {
    int size = value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : 4;
    uint8_t size_code = size == 4 ? 3 : static_cast<uint8_t>(size);
    bytes.push_back(static_cast<uint8_t>(tag_and_type | size_code));
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
  }
  DescriptorBuilder& raw(std::initializer_list<uint8_t> more) {
    bytes.insert(bytes.end(), more);
    return *this;
  }
  // Global items.
  DescriptorBuilder& usage_page(uint32_t v) { return item(0x04, v); }
  // Two bytes, so that 255 does not read as -1.
  DescriptorBuilder& logical_max(uint16_t v) {
    return raw({0x26, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
  }
  DescriptorBuilder& report_size(uint32_t v) { return item(0x74, v); }
  DescriptorBuilder& report_id(uint32_t v) { return item(0x84, v); }
  DescriptorBuilder& report_count(uint32_t v) { return item(0x94, v); }
  DescriptorBuilder& push() { return raw({0xA4}); }
  DescriptorBuilder& pop() { return raw({0xB4}); }
  // Local item.
  DescriptorBuilder& usage(uint32_t v) { return item(0x08, v); }
  // Main items.
  DescriptorBuilder& input() { return item(0x80, 0x02); }
  DescriptorBuilder& output() { return item(0x90, 0x02); }
  DescriptorBuilder& feature() { return item(0xB0, 0x02); }
  DescriptorBuilder& collection() { return item(0xA0, 0x01); }
  DescriptorBuilder& end_collection() { return raw({0xC0}); }

  // count fields of size bits each, as one input/output/feature item.
  DescriptorBuilder& inputs(uint32_t size, uint32_t count) {
    return report_size(size).report_count(count).usage(1).input();
  }
  DescriptorBuilder& outputs(uint32_t size, uint32_t count) {
    return report_size(size).report_count(count).usage(2).output();
  }
  DescriptorBuilder& features(uint32_t size, uint32_t count) {
    return report_size(size).report_count(count).usage(3).feature();
  }
};

// A panel: input_bytes of input, output_bytes of output, in one application
// collection; report_id 0 means unnumbered reports.
inline std::vector<uint8_t> panel_descriptor(uint32_t input_bytes, uint32_t output_bytes,
                                             uint32_t report_id = 0) {
  DescriptorBuilder d;
  // A vendor-defined page: no input driver takes the device, hidraw alone does.
  d.usage_page(0xFF00).usage(0x01).collection().logical_max(0xFF);
  if (report_id != 0) d.report_id(report_id);
  d.inputs(8, input_bytes).outputs(8, output_bytes).end_collection();
  return d.bytes;
}

}  // namespace tarvion::testing
