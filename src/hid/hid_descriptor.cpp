#include "hid/hid_descriptor.h"

#include <algorithm>
#include <array>
#include <optional>

namespace tarvion {
namespace {

// Item types and tags of the short items that matter for report lengths.
constexpr uint8_t kTypeMain = 0;
constexpr uint8_t kTypeGlobal = 1;
constexpr uint8_t kLongItemPrefix = 0xFE;

constexpr uint8_t kMainInput = 0x8;
constexpr uint8_t kMainOutput = 0x9;
constexpr uint8_t kMainCollection = 0xA;
constexpr uint8_t kMainFeature = 0xB;
constexpr uint8_t kMainEndCollection = 0xC;

constexpr uint8_t kGlobalReportSize = 0x7;
constexpr uint8_t kGlobalReportId = 0x8;
constexpr uint8_t kGlobalReportCount = 0x9;
constexpr uint8_t kGlobalPush = 0xA;
constexpr uint8_t kGlobalPop = 0xB;

// Beyond these the kernel refuses the device; a descriptor claiming more is
// not one we can trust for buffer sizes.
constexpr uint32_t kMaxReportSizeBits = 256;
constexpr uint32_t kMaxReportCount = 12288;
constexpr std::size_t kMaxPushDepth = 16;
constexpr std::size_t kMaxCollectionDepth = 64;

struct Globals {
  uint32_t report_size = 0;
  uint32_t report_count = 0;
  uint8_t report_id = 0;
};

enum Kind { kInput, kOutput, kFeature, kKinds };

class Parser {
 public:
  explicit Parser(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  std::optional<HidReportLayout> run() {
    if (bytes_.size() > kMaxReportDescriptorBytes) return std::nullopt;
    std::size_t pos = 0;
    while (pos < bytes_.size()) {
      uint8_t prefix = bytes_[pos++];
      if (prefix == kLongItemPrefix) {
        // Long items carry no report layout; skip them whole.
        if (bytes_.size() - pos < 2) return std::nullopt;
        std::size_t size = bytes_[pos];
        pos += 2;
        if (bytes_.size() - pos < size) return std::nullopt;
        pos += size;
        continue;
      }
      static constexpr std::array<std::size_t, 4> kDataSizes{0, 1, 2, 4};
      std::size_t size = kDataSizes[prefix & 0x3];
      if (bytes_.size() - pos < size) return std::nullopt;
      uint32_t data = 0;
      for (std::size_t i = 0; i < size; ++i) data |= uint32_t{bytes_[pos + i]} << (8 * i);
      pos += size;
      uint8_t type = (prefix >> 2) & 0x3;
      uint8_t tag = prefix >> 4;
      bool ok = true;
      if (type == kTypeMain) ok = main_item(tag);
      if (type == kTypeGlobal) ok = global_item(tag, data, size);
      // Local and reserved items do not change the layout.
      if (!ok) return std::nullopt;
    }
    if (collection_depth_ != 0) return std::nullopt;
    return layout();
  }

 private:
  bool main_item(uint8_t tag) {
    switch (tag) {
      case kMainInput:
        return add_field(kInput);
      case kMainOutput:
        return add_field(kOutput);
      case kMainFeature:
        return add_field(kFeature);
      case kMainCollection:
        if (++collection_depth_ > kMaxCollectionDepth) return false;
        return true;
      case kMainEndCollection:
        if (collection_depth_ == 0) return false;
        --collection_depth_;
        return true;
      default:
        return true;
    }
  }

  bool global_item(uint8_t tag, uint32_t data, std::size_t size) {
    switch (tag) {
      case kGlobalReportSize:
        if (data > kMaxReportSizeBits) return false;
        globals_.report_size = data;
        return true;
      case kGlobalReportCount:
        if (data > kMaxReportCount) return false;
        globals_.report_count = data;
        return true;
      case kGlobalReportId:
        // Report ID 0 is reserved for "no report ID".
        if (size == 0 || data == 0 || data > 0xFF) return false;
        globals_.report_id = static_cast<uint8_t>(data);
        numbered_ = true;
        return true;
      case kGlobalPush:
        if (stack_depth_ == kMaxPushDepth) return false;
        stack_[stack_depth_++] = globals_;
        return true;
      case kGlobalPop:
        if (stack_depth_ == 0) return false;
        globals_ = stack_[--stack_depth_];
        return true;
      default:
        return true;
    }
  }

  bool add_field(Kind kind) {
    uint32_t& bits = bits_[kind][globals_.report_id];
    // Both factors are bounded above, so the product fits; the sum is held
    // below the largest report at every step.
    bits += globals_.report_size * globals_.report_count;
    return bits <= (kMaxReportBytes - 1) * 8;
  }

  HidReportLayout layout() const {
    HidReportLayout result;
    result.valid = true;
    result.numbered = numbered_;
    std::array<uint16_t, kKinds> lengths{};
    for (int kind = 0; kind < kKinds; ++kind) {
      uint32_t longest = *std::max_element(bits_[kind].begin(), bits_[kind].end());
      // Every report is counted with its report-ID byte, as on Windows.
      if (longest > 0) lengths[kind] = static_cast<uint16_t>((longest + 7) / 8 + 1);
    }
    result.input_report_length = lengths[kInput];
    result.output_report_length = lengths[kOutput];
    result.feature_report_length = lengths[kFeature];
    return result;
  }

  std::span<const uint8_t> bytes_;
  Globals globals_;
  std::array<Globals, kMaxPushDepth> stack_{};
  std::size_t stack_depth_ = 0;
  std::size_t collection_depth_ = 0;
  bool numbered_ = false;
  // Bits per report ID and kind.
  std::array<std::array<uint32_t, 256>, kKinds> bits_{};
};

}  // namespace

HidReportLayout parse_report_descriptor(std::span<const uint8_t> descriptor) {
  return Parser(descriptor).run().value_or(HidReportLayout{});
}

}  // namespace tarvion
