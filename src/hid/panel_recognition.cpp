#include "hid/panel_recognition.h"

#include "hid/hid_device.h"

namespace tarvion {

bool is_panel(uint16_t vendor_id, uint16_t product_id) {
  return vendor_id == 0 &&
         (product_id == kMultiRadio || (product_id >= kSwitchPanel && product_id <= kRmp));
}

bool is_panel(const THidDevice& device) {
  return is_panel(device.Attributes().vendor_id, device.Attributes().product_id);
}

uint16_t device_number_of_driver_key(std::string_view driver_key) {
  std::string_view tail =
      driver_key.size() > 4 ? driver_key.substr(driver_key.size() - 4) : driver_key;
  if (tail.empty()) return 0;
  uint16_t number = 0;
  for (char c : tail) {
    if (c < '0' || c > '9') return 0;
    number = static_cast<uint16_t>(number * 10 + (c - '0'));  // four digits fit
  }
  return number;
}

uint16_t device_number(const THidDevice& device) {
  return device_number_of_driver_key(device.PnPInfo().Driver);
}

BasePair pair_of_kind(const Config& config, uint16_t kind) {
  switch (kind) {
    case kComPanel:
      return config.com_pair;
    case kNavPanel:
      return config.nav_pair;
    case kAdfPanel:
      return config.adf_pair;
    case kRmp:
      return config.rmp_pair;
    default:
      return BasePair{};
  }
}

uint16_t pair_base_input(PanelLists& lists, uint16_t kind, uint16_t number, BasePair pair) {
  uint16_t result = pair.first;
  // With three or more of a kind the last one listed decides: that is how the
  // panels have always been paired, and users rely on the order it gives.
  for (auto& listed : lists.radios) {
    if (listed->kind != kind) continue;
    if (number < listed->number) {
      listed->base_input = pair.second;
      result = pair.first;
    } else {
      result = pair.second;
    }
  }
  return result;
}

namespace {

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The product string comes from the device: a lone surrogate becomes U+FFFD
// rather than broken UTF-8.
std::string utf16_to_utf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    append_utf8(out, c);
  }
  return out;
}

}  // namespace

std::string device_list_line(const std::u16string& product_name, uint16_t number) {
  return utf16_to_utf8(product_name) + " - Device = " + std::to_string(number);
}

}  // namespace tarvion
